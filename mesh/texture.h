#pragma once

#include "core/bitmap.h"
#include "core/colour.h"

#include <memory>

// The source of one material colour: a uniform colour or a per-texel bitmap.
class texture {
public:
    texture() = default;
    texture(const texture&) = delete;
    texture& operator=(const texture&) = delete;
    virtual ~texture() = default;

    std::unique_ptr<colour> uniform; // uniform colour of the whole surface, may be none
    std::unique_ptr<bitmap> image;   // per-texel colour read at integer texels, may be none
};
