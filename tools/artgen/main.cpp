// artgen: draws the demo's three pictures with Cairo and writes them as 32-bit
// TGAs. Every sprite is drawn inside its texture rectangle (clipped to it) on a
// transparent ground; the beach strip is opaque.
#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <algorithm>

#include "data/tga_writer.h"
#include "scene/sprites.h"

namespace {

constexpr int kWidth = kPictureWidth;
constexpr int kHeight = kPictureHeight;
constexpr double kPi = 3.14159265358979;

struct Rgb {
    double r, g, b;
};

void Set(cairo_t* cr, Rgb c, double a = 1.0) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, a);
}

void Ellipse(cairo_t* cr, double cx, double cy, double rx, double ry, double angle = 0.0) {
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_rotate(cr, angle);
    cairo_scale(cr, rx, ry);
    cairo_new_sub_path(cr);
    cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
    cairo_restore(cr);
}

// Fills the current path with a vertical gradient from top to bottom colour.
void FillVertical(cairo_t* cr, double y0, Rgb top, double y1, Rgb bottom, double alpha = 1.0) {
    cairo_pattern_t* p = cairo_pattern_create_linear(0, y0, 0, y1);
    cairo_pattern_add_color_stop_rgba(p, 0, top.r, top.g, top.b, alpha);
    cairo_pattern_add_color_stop_rgba(p, 1, bottom.r, bottom.g, bottom.b, alpha);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
}

// Fills the current path with a radial light: bright at (lx, ly), dark at radius r.
void FillRadial(cairo_t* cr, double lx, double ly, double r, Rgb light, Rgb dark) {
    cairo_pattern_t* p = cairo_pattern_create_radial(lx, ly, r * 0.05, lx, ly, r);
    cairo_pattern_add_color_stop_rgb(p, 0, light.r, light.g, light.b);
    cairo_pattern_add_color_stop_rgb(p, 1, dark.r, dark.g, dark.b);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
}

void Outline(cairo_t* cr, Rgb c, double width) {
    Set(cr, c);
    cairo_set_line_width(cr, width);
    cairo_stroke(cr);
}

// Draws from here on only inside the sprite's rectangle, including the texels
// just past its far edges, so that filtering along the edge finds sprite colour.
void Clip(cairo_t* cr, SpriteRect r) {
    cairo_reset_clip(cr);
    const int x1 = std::min(r.x1, kWidth - 1), y1 = std::min(r.y1, kHeight - 1);
    cairo_rectangle(cr, r.x0, r.y0, x1 - r.x0 + 1, y1 - r.y0 + 1);
    cairo_clip(cr);
}

const Rgb kInk{0.16, 0.10, 0.08};
const Rgb kHatRed{0.85, 0.08, 0.10};
const Rgb kHatDark{0.50, 0.02, 0.05};
const Rgb kFur{0.97, 0.97, 0.95};

// A Santa hat whose brim is centred at (cx, cy), brim half-width w, tip bent to the side.
void SantaHat(cairo_t* cr, double cx, double cy, double w, double h, double bend) {
    cairo_move_to(cr, cx - w, cy);
    cairo_curve_to(cr, cx - w * 0.8, cy - h * 0.6, cx + bend * 0.3, cy - h * 1.1, cx + bend, cy - h * 0.55);
    cairo_curve_to(cr, cx + w * 0.3, cy - h * 0.75, cx + w * 0.9, cy - h * 0.4, cx + w, cy);
    cairo_close_path(cr);
    FillVertical(cr, cy - h, kHatRed, cy, kHatDark);
    Outline(cr, kHatDark, 1.5);
    // Brim and pompom in soft white fur.
    cairo_move_to(cr, cx - w - 3, cy - 6);
    cairo_curve_to(cr, cx - w * 0.3, cy - 11, cx + w * 0.3, cy - 11, cx + w + 3, cy - 6);
    cairo_line_to(cr, cx + w + 3, cy + 5);
    cairo_curve_to(cr, cx + w * 0.3, cy, cx - w * 0.3, cy, cx - w - 3, cy + 5);
    cairo_close_path(cr);
    FillVertical(cr, cy - 10, kFur, cy + 5, Rgb{0.80, 0.82, 0.86});
    cairo_new_path(cr);
    Ellipse(cr, cx + bend, cy - h * 0.55, 8, 8);
    FillRadial(cr, cx + bend - 3, cy - h * 0.55 - 3, 10, kFur, Rgb{0.75, 0.78, 0.84});
    cairo_new_path(cr);
}

// Two glossy eyes with a highlight.
void Eyes(cairo_t* cr, double x0, double x1, double y, double r) {
    for (double x : {x0, x1}) {
        Ellipse(cr, x, y, r, r * 1.15);
        Set(cr, kInk);
        cairo_fill(cr);
        Ellipse(cr, x - r * 0.35, y - r * 0.4, r * 0.35, r * 0.35);
        Set(cr, Rgb{1, 1, 1}, 0.9);
        cairo_fill(cr);
    }
}

void DrawBeachStrip(cairo_t* cr) {
    Clip(cr, kBeachStrip);
    // An opaque ground first, so no anti-aliased seam lets the sprites' transparency through.
    cairo_rectangle(cr, 0, 384, 256, 128);
    Set(cr, Rgb{0.20, 0.78, 0.80});
    cairo_fill(cr);
    // Sky: deep summer blue to a hazy horizon.
    cairo_rectangle(cr, 0, 384, 256, 60);
    FillVertical(cr, 384, Rgb{0.10, 0.42, 0.85}, 444, Rgb{0.62, 0.85, 0.98});
    cairo_new_path(cr);
    // Soft clouds.
    for (auto [x, y, s] : {std::tuple{40.0, 400.0, 1.0}, {150.0, 394.0, 0.8}, {215.0, 410.0, 0.6}}) {
        for (int i = 0; i < 4; ++i)
            Ellipse(cr, x + (i - 1.5) * 9 * s, y + (i % 2) * 2.0, 9 * s, 5 * s);
        Set(cr, Rgb{1, 1, 1}, 0.75);
        cairo_fill(cr);
    }
    // A distant headland with bush on it, on the left.
    cairo_move_to(cr, 0, 446);
    cairo_curve_to(cr, 10, 430, 40, 428, 62, 436);
    cairo_curve_to(cr, 76, 441, 86, 444, 96, 446);
    cairo_close_path(cr);
    FillVertical(cr, 428, Rgb{0.33, 0.50, 0.36}, 446, Rgb{0.45, 0.58, 0.50});
    cairo_new_path(cr);
    // Sea: turquoise shallows toward the beach.
    cairo_rectangle(cr, 0, 444, 256, 30);
    FillVertical(cr, 444, Rgb{0.05, 0.38, 0.62}, 474, Rgb{0.20, 0.78, 0.80});
    cairo_new_path(cr);
    // Wave crests: longer and further apart toward the shore, with a fixed jitter so the
    // sea does not read as a tiled pattern.
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    unsigned waveSeed = 777;
    auto jitter = [&waveSeed](double range) {
        waveSeed = waveSeed * 1103515245u + 12345u;
        return ((waveSeed >> 8) % 1000) / 1000.0 * range;
    };
    for (int row = 0; row < 5; ++row) {
        const double y = 449 + row * 5.0 + row * row * 0.3;
        const double len = 7 + row * 2.5;
        for (double x = -10 + jitter(10); x < 256; x += len + 6 + jitter(10)) {
            const double yy = y + jitter(1.6) - 0.8;
            const double l = len * (0.7 + jitter(0.5));
            cairo_move_to(cr, x, yy);
            cairo_curve_to(cr, x + l * 0.3, yy - 1.8, x + l * 0.7, yy - 1.8, x + l, yy);
            Set(cr, Rgb{1, 1, 1}, 0.30 + row * 0.11);
            cairo_set_line_width(cr, 0.7 + row * 0.25);
            cairo_stroke(cr);
        }
    }
    // Glitter under the sun.
    for (int i = 0; i < 40; ++i) {
        const double x = 100 + jitter(70) + jitter(70) - 70;
        const double y = 446 + jitter(26);
        Ellipse(cr, x, y, 1.2 + jitter(1.0), 0.35);
        Set(cr, Rgb{1.0, 0.98, 0.85}, 0.35 + jitter(0.4));
        cairo_fill(cr);
    }
    // Sand with a wet edge and surf foam.
    cairo_move_to(cr, 0, 476);
    for (int i = 0; i <= 16; ++i)
        cairo_line_to(cr, i * 16.0, 474 + 2.0 * std::sin(i * 1.7));
    cairo_line_to(cr, 256, 512);
    cairo_line_to(cr, 0, 512);
    cairo_close_path(cr);
    FillVertical(cr, 474, Rgb{0.86, 0.74, 0.52}, 512, Rgb{0.98, 0.86, 0.62});
    Set(cr, Rgb{1, 1, 1}, 0.8);
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
    // Pebbles and shells: a fixed scatter so the output never changes.
    unsigned seed = 12345;
    for (int i = 0; i < 70; ++i) {
        seed = seed * 1103515245u + 12345u;
        const double x = (seed >> 8) % 256;
        seed = seed * 1103515245u + 12345u;
        const double y = 480 + (seed >> 8) % 31;
        Ellipse(cr, x, y, 0.9, 0.5);
        Set(cr, Rgb{0.70, 0.56, 0.36}, 0.6);
        cairo_fill(cr);
    }
}

void DrawSun(cairo_t* cr) {
    Clip(cr, kSun);
    const double cx = 134, cy = 93;
    // Glow fading to nothing well before the rectangle's edge.
    cairo_pattern_t* glow = cairo_pattern_create_radial(cx, cy, 40, cx, cy, 88);
    cairo_pattern_add_color_stop_rgba(glow, 0, 1.0, 0.85, 0.30, 0.8);
    cairo_pattern_add_color_stop_rgba(glow, 1, 1.0, 0.70, 0.20, 0.0);
    cairo_arc(cr, cx, cy, 88, 0, 2 * kPi);
    cairo_set_source(cr, glow);
    cairo_fill(cr);
    cairo_pattern_destroy(glow);
    // Rays.
    for (int i = 0; i < 16; ++i) {
        const double a = i * kPi / 8;
        const double spread = 0.09;
        cairo_move_to(cr, cx + 52 * std::cos(a - spread), cy + 52 * std::sin(a - spread));
        cairo_line_to(cr, cx + ((i % 2) ? 72 : 84) * std::cos(a), cy + ((i % 2) ? 72 : 84) * std::sin(a));
        cairo_line_to(cr, cx + 52 * std::cos(a + spread), cy + 52 * std::sin(a + spread));
        cairo_close_path(cr);
        Set(cr, Rgb{1.0, 0.78, 0.15}, 0.9);
        cairo_fill(cr);
    }
    // The disc, lit from the upper left.
    cairo_arc(cr, cx, cy, 54, 0, 2 * kPi);
    FillRadial(cr, cx - 18, cy - 20, 70, Rgb{1.0, 0.98, 0.70}, Rgb{1.0, 0.62, 0.08});
    Outline(cr, Rgb{0.95, 0.55, 0.05}, 2);
    // Sunglasses and a grin: it is a hot day.
    cairo_move_to(cr, cx - 34, cy - 10);
    cairo_line_to(cr, cx + 34, cy - 10);
    Outline(cr, kInk, 3);
    for (double sx : {-1.0, 1.0}) {
        cairo_move_to(cr, cx + sx * 4, cy - 11);
        cairo_curve_to(cr, cx + sx * 6, cy + 10, cx + sx * 30, cy + 10, cx + sx * 32, cy - 11);
        cairo_close_path(cr);
        FillVertical(cr, cy - 11, Rgb{0.25, 0.25, 0.35}, cy + 6, Rgb{0.02, 0.02, 0.06});
        Outline(cr, kInk, 1.5);
        Ellipse(cr, cx + sx * 22, cy - 5, 4, 2, -0.5);
        Set(cr, Rgb{1, 1, 1}, 0.6);
        cairo_fill(cr);
    }
    cairo_move_to(cr, cx - 22, cy + 20);
    cairo_curve_to(cr, cx - 10, cy + 34, cx + 10, cy + 34, cx + 22, cy + 20);
    Outline(cr, Rgb{0.60, 0.25, 0.02}, 3.5);
}

void DrawBarbecue(cairo_t* cr) {
    Clip(cr, kBarbecue);
    const Rgb steel{0.55, 0.58, 0.62}, steelDark{0.18, 0.19, 0.22};
    // Legs and wheels.
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (auto [x0, x1] : {std::pair{60.0, 42.0}, {190.0, 208.0}, {100.0, 95.0}, {150.0, 155.0}}) {
        cairo_move_to(cr, x0, 292);
        cairo_line_to(cr, x1, 340);
        Outline(cr, steelDark, 5);
    }
    cairo_move_to(cr, 44, 330);
    cairo_line_to(cr, 206, 330);
    Outline(cr, steelDark, 3);
    for (double x : {42.0, 208.0}) {
        cairo_arc(cr, x, 342, 9, 0, 2 * kPi);
        FillRadial(cr, x - 3, 339, 10, Rgb{0.45, 0.45, 0.48}, Rgb{0.08, 0.08, 0.10});
        cairo_new_path(cr);
    }
    // Side tables.
    for (double x : {18.0, 200.0}) {
        cairo_rectangle(cr, x, 262, 34, 6);
        FillVertical(cr, 262, Rgb{0.75, 0.52, 0.30}, 268, Rgb{0.45, 0.28, 0.14});
        cairo_new_path(cr);
    }
    // The firebox: a rounded steel trough with a shine.
    cairo_move_to(cr, 46, 262);
    cairo_line_to(cr, 204, 262);
    cairo_curve_to(cr, 202, 285, 190, 298, 170, 298);
    cairo_line_to(cr, 80, 298);
    cairo_curve_to(cr, 60, 298, 48, 285, 46, 262);
    cairo_close_path(cr);
    cairo_pattern_t* shine = cairo_pattern_create_linear(46, 0, 204, 0);
    cairo_pattern_add_color_stop_rgb(shine, 0.0, steelDark.r, steelDark.g, steelDark.b);
    cairo_pattern_add_color_stop_rgb(shine, 0.3, steel.r, steel.g, steel.b);
    cairo_pattern_add_color_stop_rgb(shine, 0.4, 0.92, 0.94, 0.96);
    cairo_pattern_add_color_stop_rgb(shine, 1.0, steelDark.r, steelDark.g, steelDark.b);
    cairo_set_source(cr, shine);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(shine);
    Outline(cr, steelDark, 2);
    // Glowing coals under the grill.
    cairo_rectangle(cr, 52, 254, 146, 8);
    FillVertical(cr, 254, Rgb{1.0, 0.55, 0.10}, 262, Rgb{0.70, 0.10, 0.02});
    cairo_new_path(cr);
    // Grill bars.
    cairo_move_to(cr, 48, 254);
    cairo_line_to(cr, 202, 254);
    Outline(cr, steelDark, 3);
    // Sausages and a couple of prawns on the barbie.
    for (int i = 0; i < 5; ++i) {
        const double x = 66 + i * 25;
        cairo_move_to(cr, x, 248);
        cairo_line_to(cr, x + 18, 248);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_pattern_t* s = cairo_pattern_create_linear(0, 243, 0, 253);
        cairo_pattern_add_color_stop_rgb(s, 0, 0.85, 0.42, 0.25);
        cairo_pattern_add_color_stop_rgb(s, 1, 0.45, 0.15, 0.08);
        cairo_set_source(cr, s);
        cairo_set_line_width(cr, 9);
        cairo_stroke(cr);
        cairo_pattern_destroy(s);
        cairo_move_to(cr, x + 2, 246);
        cairo_line_to(cr, x + 14, 246);
        Set(cr, Rgb{1, 0.8, 0.6}, 0.5);
        cairo_set_line_width(cr, 2);
        cairo_stroke(cr);
    }
    // The raised hood behind, lid open.
    cairo_move_to(cr, 50, 240);
    cairo_curve_to(cr, 60, 212, 190, 212, 200, 240);
    cairo_line_to(cr, 200, 244);
    cairo_line_to(cr, 50, 244);
    cairo_close_path(cr);
    FillVertical(cr, 215, Rgb{0.30, 0.32, 0.36}, 244, Rgb{0.10, 0.10, 0.12});
    Outline(cr, steelDark, 2);
    // Smoke curling up.
    for (int i = 0; i < 3; ++i) {
        const double x = 95 + i * 30;
        cairo_move_to(cr, x, 236);
        cairo_curve_to(cr, x - 12, 222, x + 12, 210, x, 196);
        Set(cr, Rgb{0.9, 0.9, 0.92}, 0.55);
        cairo_set_line_width(cr, 5);
        cairo_stroke(cr);
    }
}

void DrawKoala(cairo_t* cr) {
    Clip(cr, kKoala);
    const Rgb grey{0.58, 0.58, 0.62}, greyDark{0.30, 0.30, 0.34}, light{0.88, 0.88, 0.90};
    // Eucalyptus stump.
    cairo_move_to(cr, 70, 430);
    cairo_curve_to(cr, 72, 470, 66, 500, 56, 511);
    cairo_line_to(cr, 200, 511);
    cairo_curve_to(cr, 190, 500, 184, 470, 186, 430);
    cairo_close_path(cr);
    cairo_pattern_t* bark = cairo_pattern_create_linear(60, 0, 196, 0);
    cairo_pattern_add_color_stop_rgb(bark, 0, 0.35, 0.22, 0.12);
    cairo_pattern_add_color_stop_rgb(bark, 0.4, 0.70, 0.55, 0.38);
    cairo_pattern_add_color_stop_rgb(bark, 1, 0.30, 0.18, 0.10);
    cairo_set_source(cr, bark);
    cairo_fill(cr);
    cairo_pattern_destroy(bark);
    Ellipse(cr, 128, 430, 58, 10);
    FillRadial(cr, 128, 430, 58, Rgb{0.92, 0.80, 0.58}, Rgb{0.62, 0.45, 0.28});
    cairo_new_path(cr);
    for (double r : {12.0, 25.0, 40.0}) {
        Ellipse(cr, 128, 430, r, r * 0.17);
        Outline(cr, Rgb{0.55, 0.38, 0.22}, 1);
    }
    // A gum leaf sprig at the stump.
    for (int i = 0; i < 3; ++i) {
        Ellipse(cr, 176 + i * 7, 455 + i * 12, 12, 4, 0.9 + i * 0.3);
        FillVertical(cr, 450, Rgb{0.45, 0.65, 0.50}, 490, Rgb{0.20, 0.40, 0.30});
        cairo_new_path(cr);
    }
    // Body, sitting.
    Ellipse(cr, 128, 360, 58, 72);
    FillRadial(cr, 105, 320, 100, grey, greyDark);
    cairo_new_path(cr);
    Ellipse(cr, 128, 378, 36, 50);
    FillRadial(cr, 120, 360, 60, Rgb{0.96, 0.96, 0.97}, light);
    cairo_new_path(cr);
    // Feet on the stump and arms holding a sausage in bread.
    for (double x : {95.0, 161.0}) {
        Ellipse(cr, x, 428, 20, 11);
        FillRadial(cr, x - 4, 424, 22, grey, greyDark);
        cairo_new_path(cr);
    }
    cairo_move_to(cr, 100, 360);
    cairo_line_to(cr, 156, 352);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    Set(cr, Rgb{0.92, 0.72, 0.42});
    cairo_set_line_width(cr, 14);
    cairo_stroke(cr);
    cairo_move_to(cr, 96, 358);
    cairo_line_to(cr, 162, 348);
    Set(cr, Rgb{0.62, 0.22, 0.12});
    cairo_set_line_width(cr, 7);
    cairo_stroke(cr);
    for (double x : {92.0, 164.0}) {
        Ellipse(cr, x, 356, 14, 12);
        FillRadial(cr, x - 3, 352, 16, grey, greyDark);
        cairo_new_path(cr);
    }
    // Ears: big fluffy discs.
    for (double x : {76.0, 180.0}) {
        Ellipse(cr, x, 236, 30, 28);
        FillRadial(cr, x - 6, 230, 36, grey, greyDark);
        cairo_new_path(cr);
        Ellipse(cr, x, 238, 17, 15);
        FillRadial(cr, x, 238, 18, Rgb{1, 0.95, 0.95}, Rgb{0.85, 0.80, 0.82});
        cairo_new_path(cr);
    }
    // Head.
    Ellipse(cr, 128, 262, 54, 46);
    FillRadial(cr, 110, 240, 80, Rgb{0.72, 0.72, 0.76}, greyDark);
    cairo_new_path(cr);
    Eyes(cr, 106, 150, 256, 5.5);
    // The big leathery nose.
    cairo_move_to(cr, 116, 262);
    cairo_curve_to(cr, 114, 250, 142, 250, 140, 262);
    cairo_curve_to(cr, 142, 282, 132, 292, 128, 292);
    cairo_curve_to(cr, 124, 292, 114, 282, 116, 262);
    cairo_close_path(cr);
    FillRadial(cr, 122, 262, 30, Rgb{0.35, 0.30, 0.32}, Rgb{0.05, 0.04, 0.05});
    cairo_new_path(cr);
    Ellipse(cr, 123, 262, 3.5, 6, -0.3);
    Set(cr, Rgb{1, 1, 1}, 0.5);
    cairo_fill(cr);
    cairo_move_to(cr, 118, 298);
    cairo_curve_to(cr, 124, 303, 132, 303, 138, 298);
    Outline(cr, kInk, 2);
    SantaHat(cr, 128, 222, 44, 72, 48);
}

void DrawBottle(cairo_t* cr) {
    Clip(cr, kBottle);
    // Lying on its side, neck to the left; a soft shadow in the sand below.
    Ellipse(cr, 112, 98, 95, 8);
    Set(cr, Rgb{0.35, 0.22, 0.10}, 0.35);
    cairo_fill(cr);
    cairo_move_to(cr, 20, 50);
    cairo_line_to(cr, 62, 48);
    cairo_curve_to(cr, 80, 46, 86, 26, 110, 24);
    cairo_line_to(cr, 196, 24);
    cairo_curve_to(cr, 208, 24, 208, 92, 196, 92);
    cairo_line_to(cr, 110, 92);
    cairo_curve_to(cr, 86, 90, 80, 70, 62, 68);
    cairo_line_to(cr, 20, 66);
    cairo_close_path(cr);
    cairo_pattern_t* glass = cairo_pattern_create_linear(0, 24, 0, 92);
    cairo_pattern_add_color_stop_rgb(glass, 0.0, 0.35, 0.16, 0.05);
    cairo_pattern_add_color_stop_rgb(glass, 0.25, 0.80, 0.45, 0.18);
    cairo_pattern_add_color_stop_rgb(glass, 0.45, 0.45, 0.20, 0.06);
    cairo_pattern_add_color_stop_rgb(glass, 1.0, 0.18, 0.07, 0.02);
    cairo_set_source(cr, glass);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(glass);
    Outline(cr, Rgb{0.15, 0.06, 0.02}, 1.5);
    // Label.
    cairo_rectangle(cr, 118, 32, 62, 52);
    FillVertical(cr, 32, Rgb{0.98, 0.92, 0.75}, 84, Rgb{0.85, 0.75, 0.55});
    cairo_new_path(cr);
    cairo_rectangle(cr, 118, 48, 62, 20);
    FillVertical(cr, 48, kHatRed, 68, kHatDark);
    cairo_new_path(cr);
    for (int i = 0; i < 3; ++i) {
        cairo_arc(cr, 136 + i * 13, 58, 4, 0, 2 * kPi);
        Set(cr, Rgb{1.0, 0.95, 0.80});
        cairo_fill(cr);
    }
    // Crown cap.
    cairo_rectangle(cr, 12, 46, 10, 24);
    FillVertical(cr, 46, Rgb{0.95, 0.85, 0.40}, 70, Rgb{0.55, 0.40, 0.10});
    cairo_new_path(cr);
    // Highlight along the glass.
    cairo_move_to(cr, 30, 53);
    cairo_line_to(cr, 60, 52);
    cairo_move_to(cr, 110, 31);
    cairo_line_to(cr, 190, 31);
    Set(cr, Rgb{1, 1, 1}, 0.55);
    cairo_set_line_width(cr, 3);
    cairo_stroke(cr);
}

void DrawKangaroo(cairo_t* cr) {
    Clip(cr, kKangaroo);
    const Rgb fur{0.78, 0.45, 0.22}, furDark{0.42, 0.20, 0.08}, belly{0.95, 0.80, 0.60};
    // Shadow.
    Ellipse(cr, 130, 500, 110, 9);
    Set(cr, Rgb{0.30, 0.18, 0.08}, 0.35);
    cairo_fill(cr);
    // Tail sweeping to the left.
    cairo_move_to(cr, 110, 420);
    cairo_curve_to(cr, 70, 470, 30, 490, 6, 496);
    cairo_curve_to(cr, 30, 500, 90, 490, 130, 450);
    cairo_close_path(cr);
    FillVertical(cr, 420, fur, 500, furDark);
    cairo_new_path(cr);
    // Big hind leg and foot.
    Ellipse(cr, 150, 430, 50, 48, -0.3);
    FillRadial(cr, 135, 410, 70, fur, furDark);
    cairo_new_path(cr);
    cairo_move_to(cr, 120, 488);
    cairo_curve_to(cr, 150, 478, 210, 480, 236, 492);
    cairo_curve_to(cr, 238, 502, 160, 502, 120, 500);
    cairo_close_path(cr);
    FillVertical(cr, 478, fur, 502, furDark);
    cairo_new_path(cr);
    // Body.
    cairo_move_to(cr, 120, 280);
    cairo_curve_to(cr, 90, 320, 92, 420, 130, 460);
    cairo_curve_to(cr, 180, 470, 200, 400, 180, 330);
    cairo_curve_to(cr, 170, 290, 150, 270, 120, 280);
    cairo_close_path(cr);
    FillRadial(cr, 130, 330, 150, fur, furDark);
    cairo_new_path(cr);
    Ellipse(cr, 150, 380, 22, 58, -0.1);
    FillRadial(cr, 146, 360, 60, Rgb{1.0, 0.92, 0.78}, belly);
    cairo_new_path(cr);
    // Forearm raising a bottle of root beer: cheers.
    cairo_move_to(cr, 160, 320);
    cairo_curve_to(cr, 190, 330, 200, 310, 205, 285);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    Set(cr, furDark);
    cairo_set_line_width(cr, 12);
    cairo_stroke(cr);
    cairo_move_to(cr, 198, 292);
    cairo_line_to(cr, 222, 230);
    cairo_pattern_t* glass = cairo_pattern_create_linear(190, 0, 225, 0);
    cairo_pattern_add_color_stop_rgb(glass, 0, 0.30, 0.12, 0.04);
    cairo_pattern_add_color_stop_rgb(glass, 0.4, 0.80, 0.45, 0.18);
    cairo_pattern_add_color_stop_rgb(glass, 1, 0.25, 0.10, 0.03);
    cairo_set_source(cr, glass);
    cairo_set_line_width(cr, 15);
    cairo_stroke(cr);
    cairo_pattern_destroy(glass);
    cairo_move_to(cr, 222, 230);
    cairo_line_to(cr, 230, 208);
    Set(cr, Rgb{0.40, 0.18, 0.05});
    cairo_set_line_width(cr, 6);
    cairo_stroke(cr);
    Ellipse(cr, 199, 296, 9, 8);
    Set(cr, furDark);
    cairo_fill(cr);
    // Head with long ears.
    for (auto [x, a] : {std::pair{96.0, -0.35}, {124.0, 0.15}}) {
        Ellipse(cr, x, 215, 10, 30, a);
        FillVertical(cr, 185, fur, 245, furDark);
        cairo_new_path(cr);
        Ellipse(cr, x, 218, 5, 20, a);
        Set(cr, Rgb{0.95, 0.70, 0.60});
        cairo_fill(cr);
    }
    cairo_move_to(cr, 90, 250);
    cairo_curve_to(cr, 95, 225, 140, 225, 150, 250);
    cairo_curve_to(cr, 175, 262, 180, 285, 160, 292);
    cairo_curve_to(cr, 130, 298, 95, 290, 90, 250);
    cairo_close_path(cr);
    FillRadial(cr, 110, 245, 80, Rgb{0.90, 0.58, 0.32}, furDark);
    cairo_new_path(cr);
    Eyes(cr, 118, 140, 255, 4.5);
    Ellipse(cr, 170, 280, 6, 5);
    Set(cr, kInk);
    cairo_fill(cr);
    cairo_move_to(cr, 150, 290);
    cairo_curve_to(cr, 156, 294, 164, 293, 168, 288);
    Outline(cr, kInk, 1.8);
    SantaHat(cr, 112, 238, 30, 60, -40);
}

using Painter = std::function<void(cairo_t*)>;

bool WritePicture(const std::string& path, std::initializer_list<Painter> painters) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
    cairo_t* cr = cairo_create(surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_BEST);
    for (const Painter& paint : painters) {
        cairo_save(cr);
        paint(cr);
        cairo_restore(cr);
        cairo_reset_clip(cr);
        cairo_new_path(cr);
    }
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    // Cairo keeps premultiplied native-endian ARGB; the loader wants straight RGBA.
    const std::string tga = EncodeTga32(kWidth, kHeight, [&](int32_t x, int32_t y) {
        uint32_t argb;
        std::memcpy(&argb, data + y * stride + x * 4, 4);
        const uint32_t a = argb >> 24;
        if (a == 0)
            return 0u;
        auto straight = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
        return straight((argb >> 16) & 0xFF) << 24 | straight((argb >> 8) & 0xFF) << 16 |
               straight(argb & 0xFF) << 8 | a;
    });
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    std::ofstream out(path, std::ios::binary);
    out.write(tga.data(), std::streamsize(tga.size()));
    return bool(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || argv[1][0] == '-') {
        std::fprintf(argc == 2 && std::strcmp(argv[1], "--help") == 0 ? stdout : stderr,
                     "usage: artgen OUTDIR\n"
                     "Draws the demo's pictures sunbbqbeach.tga, koala.tga and roobeer.tga\n"
                     "(256 x 512, 32-bit) into OUTDIR.\n");
        return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    const std::string dir = argv[1];
    const bool ok = WritePicture(dir + "/sunbbqbeach.tga", {DrawBeachStrip, DrawSun, DrawBarbecue}) &&
                    WritePicture(dir + "/koala.tga", {DrawKoala}) &&
                    WritePicture(dir + "/roobeer.tga", {DrawBottle, DrawKangaroo});
    if (!ok) {
        std::fprintf(stderr, "artgen: cannot write the pictures into '%s'\n", dir.c_str());
        return 1;
    }
    return 0;
}
