// Turns a picture file into a picture for a quadrant: its metadata read, the
// display filters applied, decoded at a fitting size and turned upright.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/picture_holder.h"
#include "metadata/picture_metadata.h"

// Afterwards `picture` holds the picture or stays empty; never lets an error out.
void ExtractPreview(const std::string& path, std::int32_t targetWidth, std::int32_t targetHeight,
                    PictureHolder& picture, PictureMetadata& info);
