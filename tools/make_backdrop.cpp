// make_backdrop: paints the title backdrop and writes it as a JPEG.
//
//   make_backdrop OUT.jpg PROFILE.icc PACKET.xmp
//
// The picture (640 x 480): "QUORBEL" in large banded pixel letters along the
// top, a small credit line under it at the right, the game's logo "JOLTRAK"
// with a red glow in the upper middle, and behind everything a darkened maze
// of chequered walls seen in perspective and turned, so that it recedes
// towards the top. The middle and lower part stay dark: the menu is drawn
// over them in 12-pixel text.
//
// The file: baseline sequential JPEG, Huffman coded, 8-bit Y, Cb, Cr, all
// sampled 1 x 1, with a restart interval. After SOI come an Exif APP1, a
// Photoshop APP13, an XMP APP1, one ICC_PROFILE APP2 chunk and the Adobe
// APP14 marker (transform 1: YCbCr), then the frame; there is no JFIF APP0.
//
// Everything is computed from constants with plain arithmetic (no libm
// calls in the painting, no floating-point contraction), so the output is
// the same bytes on every run with the same libjpeg.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kQuality = 85;  // about 100 KB
constexpr int kRestartRows = 1;  // one restart interval per MCU row (80 MCUs)

// ---------------------------------------------------------------- canvas

struct Rgb {
    float r, g, b;  // 0 to 1
};

Rgb operator*(Rgb c, float k) { return {c.r * k, c.g * k, c.b * k}; }
Rgb operator+(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }

Rgb mix(Rgb a, Rgb b, float t) { return a * (1.0f - t) + b * t; }

constexpr Rgb hex(uint32_t v) {
    return {((v >> 16) & 0xFF) / 255.0f, ((v >> 8) & 0xFF) / 255.0f, (v & 0xFF) / 255.0f};
}

float clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

struct Canvas {
    std::vector<Rgb> pixels = std::vector<Rgb>(kWidth * kHeight, Rgb{0, 0, 0});

    Rgb& at(int x, int y) { return pixels[static_cast<size_t>(y) * kWidth + x]; }
    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < kWidth && y < kHeight; }
    // Paints colour over the pixel with weight alpha (0 to 1).
    void blend(int x, int y, Rgb colour, float alpha) {
        if (!inside(x, y) || alpha <= 0.0f) return;
        Rgb& p = at(x, y);
        p = mix(p, colour, clamp01(alpha));
    }
};

// A coverage mask over the canvas, 0 to 1 per pixel.
struct Mask {
    std::vector<float> v = std::vector<float>(kWidth * kHeight, 0.0f);
    float& at(int x, int y) { return v[static_cast<size_t>(y) * kWidth + x]; }
    float get(int x, int y) const {
        if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return 0.0f;
        return v[static_cast<size_t>(y) * kWidth + x];
    }
};

// Running-sum box blur of the given radius, horizontally then vertically.
void boxBlur(Mask& m, int radius) {
    std::vector<float> line;
    const float scale = 1.0f / (2 * radius + 1);
    for (int y = 0; y < kHeight; ++y) {
        line.assign(kWidth, 0.0f);
        float sum = 0.0f;
        for (int x = -radius; x <= radius; ++x) sum += m.get(x, y);
        for (int x = 0; x < kWidth; ++x) {
            line[x] = sum * scale;
            sum += m.get(x + radius + 1, y) - m.get(x - radius, y);
        }
        for (int x = 0; x < kWidth; ++x) m.at(x, y) = line[x];
    }
    for (int x = 0; x < kWidth; ++x) {
        line.assign(kHeight, 0.0f);
        float sum = 0.0f;
        for (int y = -radius; y <= radius; ++y) sum += m.get(x, y);
        for (int y = 0; y < kHeight; ++y) {
            line[y] = sum * scale;
            sum += m.get(x, y + radius + 1) - m.get(x, y - radius);
        }
        for (int y = 0; y < kHeight; ++y) m.at(x, y) = line[y];
    }
}

// Largest value within a square of the given radius: grows a mask outwards.
Mask dilate(const Mask& m, int radius) {
    Mask out;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            float best = 0.0f;
            for (int dy = -radius; dy <= radius; ++dy)
                for (int dx = -radius; dx <= radius; ++dx)
                    if (dx * dx + dy * dy <= radius * radius + radius) {
                        const float v = m.get(x + dx, y + dy);
                        if (v > best) best = v;
                    }
            out.at(x, y) = best;
        }
    return out;
}

// A small deterministic generator (xorshift32) for the maze.
struct Random {
    uint32_t state;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
};

// ---------------------------------------------------------------- palette

// The C64's sixteen colours (not all of them are used).
namespace c64 {
[[maybe_unused]] constexpr Rgb black = hex(0x000000), white = hex(0xFFFFFF), red = hex(0x813338),
              cyan = hex(0x75CEC8), purple = hex(0x8E3C97), green = hex(0x56AC4D),
              blue = hex(0x2E2C9B), yellow = hex(0xEDF171), orange = hex(0x8E5029),
              brown = hex(0x553800), lightRed = hex(0xC46C71), darkGrey = hex(0x4A4A4A),
              grey = hex(0x7B7B7B), lightGreen = hex(0xA9FF9F), lightBlue = hex(0x706DEB),
              lightGrey = hex(0xB2B2B2);
}

// ---------------------------------------------------------------- letters

// Our blocky capitals on an 8 x 8 grid; row 7 is free except for Q's tail.
struct Glyph {
    char letter;
    const char* rows[8];
};

constexpr Glyph kGlyphs[] = {
    {'A', {"..####..", ".##..##.", "##....##", "##....##", "########", "##....##", "##....##", "........"}},
    {'B', {"#######.", "##....##", "##....##", "#######.", "##....##", "##....##", "#######.", "........"}},
    {'C', {".######.", "##....##", "##......", "##......", "##......", "##....##", ".######.", "........"}},
    {'E', {"########", "##......", "##......", "######..", "##......", "##......", "########", "........"}},
    {'H', {"##....##", "##....##", "##....##", "########", "##....##", "##....##", "##....##", "........"}},
    {'J', {"....####", "......##", "......##", "......##", "##....##", "##....##", ".######.", "........"}},
    {'K', {"##...##.", "##..##..", "##.##...", "####....", "##.##...", "##..##..", "##...##.", "........"}},
    {'L', {"##......", "##......", "##......", "##......", "##......", "##......", "########", "........"}},
    {'O', {".######.", "##....##", "##....##", "##....##", "##....##", "##....##", ".######.", "........"}},
    {'Q', {".######.", "##....##", "##....##", "##....##", "##.##.##", "##..####", ".######.", "......##"}},
    {'R', {"#######.", "##....##", "##....##", "#######.", "##.##...", "##..##..", "##...##.", "........"}},
    {'T', {"########", "...##...", "...##...", "...##...", "...##...", "...##...", "...##...", "........"}},
    {'U', {"##....##", "##....##", "##....##", "##....##", "##....##", "##....##", ".######.", "........"}},
    {'W', {"##....##", "##....##", "##....##", "##.##.##", "########", "###..###", "##....##", "........"}},
    {'Y', {"##....##", "##....##", ".##..##.", "..####..", "...##...", "...##...", "...##...", "........"}},
};

const Glyph* glyphFor(char c) {
    for (const Glyph& g : kGlyphs)
        if (g.letter == c) return &g;
    return nullptr;  // space and anything unknown draw nothing
}

bool glyphCell(char c, int col, int row) {
    const Glyph* g = glyphFor(c);
    return g && col >= 0 && col < 8 && row >= 0 && row < 8 && g->rows[row][col] == '#';
}

// A line of capitals laid out on the cell grid: letters `gap` cells apart,
// with a few pairs pulled closer where their shapes leave a hole (the foot of
// an L and the bar of a T).
struct TextLine {
    const char* text;
    int gap;

    int kerning(int index) const {  // cells the letter at index moves left
        if (index == 0) return 0;
        const char a = text[index - 1], b = text[index];
        if (a == 'L' && (b == 'T' || b == 'Y')) return 2;
        return 0;
    }
    int start(int index) const {  // first cell column of the letter at index
        int col = 0;
        for (int i = 1; i <= index; ++i) col += 8 + gap - kerning(i);
        return col;
    }
    int cells() const {
        const int n = static_cast<int>(std::strlen(text));
        return n == 0 ? 0 : start(n - 1) + 8;
    }
    bool cell(int col, int row) const {
        if (row < 0 || row > 7) return false;
        const int n = static_cast<int>(std::strlen(text));
        for (int i = 0; i < n; ++i) {
            const int first = start(i);
            if (col >= first && col < first + 8 && glyphCell(text[i], col - first, row)) return true;
        }
        return false;
    }
};

// ---------------------------------------------------------------- the maze

// The game's playfield: a maze on a grid of C64 character cells (8 x 8
// texels each), walls one cell thick, repeated endlessly.
constexpr int kMazeCells = 61;  // odd: walls on even indices, rooms on odd ones

struct Maze {
    std::vector<uint8_t> wall = std::vector<uint8_t>(kMazeCells * kMazeCells, 1);

    bool isWall(int cx, int cy) const {
        cx %= kMazeCells;
        cy %= kMazeCells;
        if (cx < 0) cx += kMazeCells;
        if (cy < 0) cy += kMazeCells;
        return wall[static_cast<size_t>(cy) * kMazeCells + cx] != 0;
    }
};

// A depth-first maze with a sprinkling of extra openings, so that the
// corridors loop the way an arcade maze does.
Maze buildMaze() {
    Maze maze;
    Random random{0x51B0C64u};
    const int rooms = kMazeCells / 2;
    std::vector<int> stack{0};
    std::vector<uint8_t> seen(rooms * rooms, 0);
    seen[0] = 1;
    auto open = [&](int cx, int cy) { maze.wall[static_cast<size_t>(cy) * kMazeCells + cx] = 0; };
    open(1, 1);
    while (!stack.empty()) {
        const int room = stack.back();
        const int rx = room % rooms, ry = room / rooms;
        int choices[4], count = 0;
        const int dx[4] = {1, -1, 0, 0}, dy[4] = {0, 0, 1, -1};
        for (int d = 0; d < 4; ++d) {
            const int nx = rx + dx[d], ny = ry + dy[d];
            if (nx >= 0 && ny >= 0 && nx < rooms && ny < rooms && !seen[ny * rooms + nx]) choices[count++] = d;
        }
        if (count == 0) {
            stack.pop_back();
            continue;
        }
        const int d = choices[random.below(count)];
        const int nx = rx + dx[d], ny = ry + dy[d];
        seen[ny * rooms + nx] = 1;
        open(2 * rx + 1 + dx[d], 2 * ry + 1 + dy[d]);
        open(2 * nx + 1, 2 * ny + 1);
        stack.push_back(ny * rooms + nx);
    }
    for (int i = 0; i < rooms * rooms / 6; ++i) {
        const int cx = 1 + random.below(kMazeCells - 2), cy = 1 + random.below(kMazeCells - 2);
        if ((cx + cy) % 2 == 1) open(cx, cy);  // a wall between two rooms
    }
    return maze;
}

// The figures on the playfield: the player's ship and three monsters, each
// filling one corridor cell.
struct Sprite {
    const char* rows[8];
    Rgb colour;
};

constexpr Sprite kShip = {{"...##...", "..####..", ".######.", "##.##.##", "########", ".#.##.#.", "#......#", ".#....#."},
                          c64::yellow};
constexpr Sprite kMonster = {{"..#..#..", "...##...", "..####..", ".#.##.#.", "########", "#.####.#", "#.#..#.#", "...##..."},
                             c64::white};

struct Figure {
    int cx, cy;  // maze cell
    const Sprite* sprite;
    Rgb colour;
};

std::vector<Figure> gFigures;

// Whole texel and cell under a playfield coordinate, rounding downwards.
int texelOf(float u) { return static_cast<int>(u) - (u < static_cast<int>(u) ? 1 : 0); }
int cellOf(int texel) { return texel >= 0 ? texel / 8 : (texel - 7) / 8; }

// Colour of the playfield at texel (u, v).
Rgb mazeTexel(const Maze& maze, float u, float v) {
    const int tu = texelOf(u), tv = texelOf(v);
    const int cx = cellOf(tu), cy = cellOf(tv);
    const int ix = tu - cx * 8, iy = tv - cy * 8;  // 0 to 7 inside the cell
    if (maze.isWall(cx, cy)) {
        // Chequered wall: checks of 4 x 4 texels, with a bright rim where
        // the wall meets a corridor.
        const bool rim = (ix == 0 && !maze.isWall(cx - 1, cy)) || (ix == 7 && !maze.isWall(cx + 1, cy)) ||
                         (iy == 0 && !maze.isWall(cx, cy - 1)) || (iy == 7 && !maze.isWall(cx, cy + 1));
        if (rim) return c64::cyan;
        return ((ix / 4 + iy / 4) & 1) ? c64::lightBlue : c64::blue;
    }
    for (const Figure& f : gFigures)
        if (f.cx == cx && f.cy == cy) return f.sprite->rows[iy][ix] == '#' ? f.colour * 1.8f : hex(0x05050C);
    // Corridor: black, with a pellet in every other cell.
    if (((cx + cy) & 1) == 0 && ix >= 3 && ix <= 4 && iy >= 3 && iy <= 4) return c64::yellow;
    return hex(0x05050C);
}

// The camera: the playfield is a plane below the eye, its horizon above the
// top of the picture, turned by 20 degrees.
constexpr float kHorizonY = -150.0f;  // picture row of the horizon
constexpr float kEyeHeight = 290.0f;  // texels per unit of 1 / (y - horizon) sideways
constexpr float kFocal = 560.0f;      // stretches depth against width
constexpr float kCos = 0.9396926207859084f;  // cos 20 degrees
constexpr float kSin = 0.3420201433256687f;  // sin 20 degrees
constexpr float kOriginU = 131.0f, kOriginV = -84.0f;

// Playfield texel under the picture point (x, y).
void toPlayfield(float x, float y, float& u, float& v) {
    const float t = kEyeHeight / (y - kHorizonY);
    const float side = (x - kWidth / 2.0f) * t;
    const float depth = kFocal * t;
    u = side * kCos - depth * kSin + kOriginU;
    v = side * kSin + depth * kCos + kOriginV;
}

Rgb mazeAt(const Maze& maze, float x, float y) {
    float u, v;
    toPlayfield(x, y, u, v);
    return mazeTexel(maze, u, v);
}

// Puts a figure into the corridor cell nearest to the picture point (x, y).
void placeFigure(const Maze& maze, float x, float y, const Sprite& sprite, Rgb colour) {
    float u, v;
    toPlayfield(x, y, u, v);
    const int cx = cellOf(texelOf(u)), cy = cellOf(texelOf(v));
    for (int r = 0; r < 3; ++r)
        for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx)
                if (!maze.isWall(cx + dx, cy + dy)) {
                    gFigures.push_back({cx + dx, cy + dy, &sprite, colour});
                    return;
                }
}

void paintMaze(Canvas& canvas) {
    const Maze maze = buildMaze();
    placeFigure(maze, 250.0f, 420.0f, kShip, c64::yellow);
    placeFigure(maze, 420.0f, 350.0f, kMonster, c64::lightRed);
    placeFigure(maze, 110.0f, 330.0f, kMonster, c64::lightGreen);
    placeFigure(maze, 560.0f, 450.0f, kMonster, c64::purple);
    constexpr int kSamples = 4;  // per axis, against shimmer in the distance
    for (int y = 0; y < kHeight; ++y) {
        // Fade into the distance and darken the whole view; the top is kept
        // nearly black for the lettering.
        const float near = (y - kHorizonY) / (kHeight - kHorizonY);  // 0.24 at the top, 1 at the bottom
        const float fog = near * near;
        for (int x = 0; x < kWidth; ++x) {
            Rgb sum{0, 0, 0};
            for (int sy = 0; sy < kSamples; ++sy)
                for (int sx = 0; sx < kSamples; ++sx)
                    sum = sum + mazeAt(maze, x + (sx + 0.5f) / kSamples, y + (sy + 0.5f) / kSamples);
            sum = sum * (1.0f / (kSamples * kSamples));
            const float dx = (x - kWidth / 2.0f) / (kWidth / 2.0f);
            const float vignette = 1.0f - 0.45f * dx * dx;
            canvas.at(x, y) = sum * (0.5f * fog * vignette);
        }
    }
    // A night-blue sky behind the top lettering.
    for (int y = 0; y < 230; ++y) {
        const float k = 1.0f - y / 230.0f;
        for (int x = 0; x < kWidth; ++x) canvas.at(x, y) = canvas.at(x, y) + hex(0x0A0A2A) * (k * k);
    }
}

// ---------------------------------------------------------------- QUORBEL

// Big banded letters: one C64 colour per cell row, each letter lit along its
// upper and left edges and shaded along its lower and right edges, with a
// drop shadow.
void paintName(Canvas& canvas) {
    const TextLine line{"QUORBEL", 1};
    constexpr int kCell = 10;  // pixels
    constexpr int kTop = 6;
    const Rgb bands[8] = {c64::white, c64::yellow, c64::lightGreen, c64::cyan,
                          c64::lightBlue, c64::purple, c64::lightRed, c64::red};
    const int cells = line.cells();
    const int left = (kWidth - cells * kCell) / 2;
    for (int pass = 0; pass < 2; ++pass)  // shadow first, then the letters
        for (int row = 0; row < 8; ++row)
            for (int col = 0; col < cells; ++col) {
                if (!line.cell(col, row)) continue;
                const bool openAbove = !line.cell(col, row - 1), openBelow = !line.cell(col, row + 1);
                const bool openLeft = !line.cell(col - 1, row), openRight = !line.cell(col + 1, row);
                const int x0 = left + col * kCell, y0 = kTop + row * kCell;
                for (int y = 0; y < kCell; ++y)
                    for (int x = 0; x < kCell; ++x) {
                        if (pass == 0) {
                            canvas.blend(x0 + x + 5, y0 + y + 5, c64::black, 0.8f);
                            continue;
                        }
                        Rgb c = bands[row];
                        if ((openAbove && y < 2) || (openLeft && x < 2)) c = mix(c, c64::white, 0.5f);
                        else if ((openBelow && y >= kCell - 2) || (openRight && x >= kCell - 2)) c = c * 0.5f;
                        canvas.at(x0 + x, y0 + y) = c;
                    }
            }
}

// The credit line, right-aligned under the name, in small letters whose
// cells are one pixel wide and two high: every cell row then covers one of
// the rows that the scan-line overlay leaves bright.
void paintCredit(Canvas& canvas) {
    const TextLine line{"BY THE QUORBEL CREW", 1};
    constexpr int kTop = 94;
    const int cells = line.cells();
    const int left = 629 - cells;
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < cells; ++col) {
            if (!line.cell(col, row)) continue;
            for (int y = 2 * row; y < 2 * row + 2; ++y) {
                canvas.blend(left + col + 1, kTop + y + 1, c64::black, 0.8f);
                canvas.at(left + col, kTop + y) = row < 4 ? c64::lightGrey : c64::grey;
            }
        }
}

// ---------------------------------------------------------------- JOLTRAK

constexpr TextLine kLogo{"JOLTRAK", 1};
constexpr int kLogoCell = 8;  // pixels
constexpr int kLogoTop = 128;
constexpr float kSlant = 0.3f;  // italic: pixels to the right per pixel up

// Whether the point (x, y) lies in the slanted logo letters.
bool inLogo(float x, float y) {
    const float height = 7.0f * kLogoCell;
    const float left = (kWidth - kLogo.cells() * kLogoCell - height * kSlant) / 2.0f;
    const float fy = y - kLogoTop;
    if (fy < 0 || fy >= height) return false;
    const float fx = x - left - (height - fy) * kSlant;
    if (fx < 0) return false;
    return kLogo.cell(static_cast<int>(fx / kLogoCell), static_cast<int>(fy / kLogoCell));
}

Mask logoMask() {
    Mask m;
    constexpr int kSamples = 4;
    for (int y = kLogoTop - 2; y < kLogoTop + 8 * kLogoCell; ++y)
        for (int x = 0; x < kWidth; ++x) {
            int hits = 0;
            for (int sy = 0; sy < kSamples; ++sy)
                for (int sx = 0; sx < kSamples; ++sx)
                    hits += inLogo(x + (sx + 0.5f) / kSamples, y + (sy + 0.5f) / kSamples);
            m.at(x, y) = hits / float(kSamples * kSamples);
        }
    return m;
}

void paintLogo(Canvas& canvas) {
    const Mask letters = logoMask();
    const Mask outline = dilate(letters, 2);

    // The red glow: the outline spread wide, added light.
    Mask glow = dilate(letters, 4);
    for (int i = 0; i < 3; ++i) boxBlur(glow, 7);
    const Rgb glowColour = {1.0f, 0.10f, 0.04f};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const float g = glow.at(x, y) * 1.15f;
            if (g <= 0.0f) continue;
            Rgb& p = canvas.at(x, y);
            p = {p.r + glowColour.r * g, p.g + glowColour.g * g, p.b + glowColour.b * g};
        }

    // Depth: the letters pushed back to the lower right in darkening reds.
    constexpr int kDepth = 5;
    for (int d = kDepth; d >= 1; --d) {
        const Rgb side = mix(hex(0x5A0A06), hex(0x200202), d / float(kDepth));
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) canvas.blend(x, y, side, outline.get(x - d, y - d));
    }
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) canvas.blend(x, y, hex(0x180000), outline.get(x, y));

    // The face: hot metal, white-yellow at the top through orange to red,
    // with a bright seam across the middle.
    const float top = kLogoTop, height = 7.0f * kLogoCell;
    for (int y = kLogoTop; y < kLogoTop + 7 * kLogoCell; ++y) {
        const float t = (y + 0.5f - top) / height;
        Rgb c;
        if (t < 0.45f) c = mix(hex(0xFFFFE0), hex(0xFFD23C), t / 0.45f);
        else c = mix(hex(0xFF8A1E), hex(0xC81208), (t - 0.45f) / 0.55f);
        for (int x = 0; x < kWidth; ++x) canvas.blend(x, y, c, letters.get(x, y));
    }
}

// ---------------------------------------------------------------- file

// Little-endian TIFF directory builder for the Exif segment.
struct Tiff {
    struct Entry {
        uint16_t tag, type;
        uint32_t count;
        std::vector<uint8_t> value;  // count items of the type, little-endian
    };
    std::vector<Entry> entries;

    static std::vector<uint8_t> le(uint32_t v, int bytes) {
        std::vector<uint8_t> out;
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return out;
    }
    void ascii(uint16_t tag, const char* text) {
        std::vector<uint8_t> v(text, text + std::strlen(text) + 1);
        entries.push_back({tag, 2, static_cast<uint32_t>(v.size()), v});
    }
    void shortValue(uint16_t tag, uint16_t value) { entries.push_back({tag, 3, 1, le(value, 2)}); }
    void longValue(uint16_t tag, uint32_t value) { entries.push_back({tag, 4, 1, le(value, 4)}); }
    void rational(uint16_t tag, uint32_t num, uint32_t den) {
        std::vector<uint8_t> v = le(num, 4), d = le(den, 4);
        v.insert(v.end(), d.begin(), d.end());
        entries.push_back({tag, 5, 1, v});
    }
    void undefined(uint16_t tag, const char* bytes, uint32_t n) {
        entries.push_back({tag, 7, n, std::vector<uint8_t>(bytes, bytes + n)});
    }
    // The directory placed at `offset` (from the TIFF header): count,
    // entries, next-directory link 0, then the values too long to inline.
    std::vector<uint8_t> build(uint32_t offset) const {
        std::vector<uint8_t> dir = le(static_cast<uint32_t>(entries.size()), 2), data;
        const uint32_t dataStart = offset + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
        for (const Entry& e : entries) {
            for (uint8_t b : le(e.tag, 2)) dir.push_back(b);
            for (uint8_t b : le(e.type, 2)) dir.push_back(b);
            for (uint8_t b : le(e.count, 4)) dir.push_back(b);
            std::vector<uint8_t> field = e.value;
            if (field.size() > 4) {
                const uint32_t at = dataStart + static_cast<uint32_t>(data.size());
                data.insert(data.end(), field.begin(), field.end());
                if (data.size() % 2) data.push_back(0);  // values start on word boundaries
                field = le(at, 4);
            }
            field.resize(4, 0);
            dir.insert(dir.end(), field.begin(), field.end());
        }
        for (int i = 0; i < 4; ++i) dir.push_back(0);
        dir.insert(dir.end(), data.begin(), data.end());
        return dir;
    }
};

std::vector<uint8_t> exifSegment() {
    Tiff exif;
    exif.undefined(0x9000, "0232", 4);       // Exif version
    exif.shortValue(0xA001, 0xFFFF);         // colour space: uncalibrated, see the ICC profile
    exif.longValue(0xA002, kWidth);
    exif.longValue(0xA003, kHeight);

    Tiff main;
    main.ascii(0x010E, "Quorbel title backdrop");   // image description
    main.shortValue(0x0112, 1);                    // orientation: top row first
    main.rational(0x011A, 72, 1);                  // x resolution
    main.rational(0x011B, 72, 1);                  // y resolution
    main.shortValue(0x0128, 2);                    // resolution unit: inch
    main.ascii(0x0131, "Quorbel make_backdrop");   // software
    main.ascii(0x013B, "The Quorbel crew");        // artist
    main.ascii(0x8298, "Made by the Quorbel crew; free to use.");  // copyright
    main.longValue(0x8769, 0);                     // Exif directory, patched below

    // Header (8 bytes), the main directory, then the Exif directory.
    const uint32_t exifOffset = 8 + static_cast<uint32_t>(main.build(8).size());
    main.entries.back().value = Tiff::le(exifOffset, 4);
    std::vector<uint8_t> out = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
    const std::vector<uint8_t> a = main.build(8), b = exif.build(exifOffset);
    out.insert(out.end(), a.begin(), a.end());
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

void putBe(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// One image resource block: signature, id, empty name, size, data (even).
void photoshopResource(std::vector<uint8_t>& out, uint16_t id, const std::vector<uint8_t>& data) {
    const char* sig = "8BIM";
    out.insert(out.end(), sig, sig + 4);
    putBe(out, id, 2);
    out.push_back(0);  // name: empty Pascal string,
    out.push_back(0);  // padded to an even length
    putBe(out, static_cast<uint32_t>(data.size()), 4);
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() % 2) out.push_back(0);
}

void iptcDataSet(std::vector<uint8_t>& out, uint8_t number, const std::string& text) {
    out.push_back(0x1C);
    out.push_back(2);  // application record
    out.push_back(number);
    putBe(out, static_cast<uint32_t>(text.size()), 2);
    out.insert(out.end(), text.begin(), text.end());
}

std::vector<uint8_t> photoshopSegment() {
    const char* tag = "Photoshop 3.0";
    std::vector<uint8_t> out(tag, tag + std::strlen(tag) + 1);
    // Resolution: 72 pixels per inch both ways (16.16 fixed), shown in inches.
    std::vector<uint8_t> resolution;
    for (int i = 0; i < 2; ++i) {
        putBe(resolution, 72u << 16, 4);
        putBe(resolution, 1, 2);
        putBe(resolution, 1, 2);
    }
    photoshopResource(out, 0x03ED, resolution);
    // Caption, credit and copyright as IPTC data sets.
    std::vector<uint8_t> iptc = {0x1C, 2, 0, 0, 2, 0, 4};  // record version 4
    iptcDataSet(iptc, 120, "Quorbel title backdrop");
    iptcDataSet(iptc, 80, "The Quorbel crew");
    iptcDataSet(iptc, 116, "Made by the Quorbel crew; free to use.");
    photoshopResource(out, 0x0404, iptc);
    return out;
}

std::vector<uint8_t> xmpSegment(const std::vector<uint8_t>& packet) {
    const char* ns = "http://ns.adobe.com/xap/1.0/";
    std::vector<uint8_t> out(ns, ns + std::strlen(ns) + 1);
    out.insert(out.end(), packet.begin(), packet.end());
    return out;
}

std::vector<uint8_t> iccSegment(const std::vector<uint8_t>& profile) {
    const char* tag = "ICC_PROFILE";
    std::vector<uint8_t> out(tag, tag + std::strlen(tag) + 1);
    out.push_back(1);  // chunk 1
    out.push_back(1);  // of 1
    out.insert(out.end(), profile.begin(), profile.end());
    return out;
}

std::vector<uint8_t> adobeSegment() {
    // "Adobe", version 100, no flags, transform 1: the components are YCbCr.
    return {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 1};
}

bool readFile(const char* path, std::vector<uint8_t>& out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool writeJpeg(const char* path, const Canvas& canvas, const std::vector<uint8_t>& profile,
               const std::vector<uint8_t>& packet) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);  // errors here are fatal: a tool may exit
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);

    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, JCS_YCbCr);
    jpeg_set_quality(&cinfo, kQuality, TRUE);
    for (int c = 0; c < 3; ++c) {
        cinfo.comp_info[c].h_samp_factor = 1;
        cinfo.comp_info[c].v_samp_factor = 1;
    }
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.optimize_coding = FALSE;  // the standard Huffman tables
    cinfo.restart_in_rows = kRestartRows;
    // The markers are written by hand below, in our order.
    cinfo.write_JFIF_header = FALSE;
    cinfo.write_Adobe_marker = FALSE;

    jpeg_start_compress(&cinfo, TRUE);
    const std::vector<uint8_t> exif = exifSegment(), photoshop = photoshopSegment(),
                               xmp = xmpSegment(packet), icc = iccSegment(profile), adobe = adobeSegment();
    for (const std::vector<uint8_t>* s : {&exif, &photoshop, &xmp, &icc, &adobe})
        if (s->size() > 65533) {
            std::fprintf(stderr, "make_backdrop: a marker segment is too long\n");
            return false;
        }
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
    jpeg_write_marker(&cinfo, JPEG_APP0 + 13, photoshop.data(), static_cast<unsigned>(photoshop.size()));
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, xmp.data(), static_cast<unsigned>(xmp.size()));
    jpeg_write_marker(&cinfo, JPEG_APP0 + 2, icc.data(), static_cast<unsigned>(icc.size()));
    jpeg_write_marker(&cinfo, JPEG_APP0 + 14, adobe.data(), static_cast<unsigned>(adobe.size()));

    std::vector<uint8_t> row(kWidth * 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const Rgb p = canvas.pixels[static_cast<size_t>(y) * kWidth + x];
            row[x * 3 + 0] = static_cast<uint8_t>(clamp01(p.r) * 255.0f + 0.5f);
            row[x * 3 + 1] = static_cast<uint8_t>(clamp01(p.g) * 255.0f + 0.5f);
            row[x * 3 + 2] = static_cast<uint8_t>(clamp01(p.b) * 255.0f + 0.5f);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);

    FILE* f = std::fopen(path, "wb");
    bool ok = f && std::fwrite(buffer, 1, size, f) == size;
    if (f && std::fclose(f) != 0) ok = false;
    std::free(buffer);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_backdrop OUT.jpg PROFILE.icc PACKET.xmp\n");
        return 2;
    }
    std::vector<uint8_t> profile, packet;
    if (!readFile(argv[2], profile) || !readFile(argv[3], packet)) {
        std::fprintf(stderr, "make_backdrop: cannot read %s or %s\n", argv[2], argv[3]);
        return 1;
    }
    Canvas canvas;
    paintMaze(canvas);
    paintLogo(canvas);
    paintName(canvas);
    paintCredit(canvas);
    if (!writeJpeg(argv[1], canvas, profile, packet)) {
        std::fprintf(stderr, "make_backdrop: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
