// For the other SDL edge files (keyboard, message box): the launcher's SDL
// window, or nullptr while there is none.
#pragma once
struct SDL_Window;
SDL_Window* sdlLoaderWindow();
