// Where each sprite sits in its 256 x 512 picture, in texels: the scene
// cuts its quads along these edges, artgen draws each sprite inside them and
// the picture tests check that nothing lies outside.
#pragma once

struct SpriteRect {
    int x0, y0, x1, y1; // texel edges, y counted down from the top row
};

constexpr int kPictureWidth = 256;
constexpr int kPictureHeight = 512;

// sunbbqbeach.tga
constexpr SpriteRect kSun{46, 0, 222, 185};
constexpr SpriteRect kBarbecue{14, 189, 237, 354};
constexpr SpriteRect kBeachStrip{0, 384, 256, 512};
// koala.tga
constexpr SpriteRect kKoala{52, 143, 204, 512};
// roobeer.tga
constexpr SpriteRect kBottle{9, 10, 212, 109};
constexpr SpriteRect kKangaroo{0, 165, 256, 512};
