// Turns a picture file into a picture for a quadrant: its metadata read, the
// display filters applied, decoded at a fitting size and turned upright.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/picture_holder.h"
#include "metadata/file_check.h"
#include "metadata/picture_decoder.h"
#include "metadata/picture_metadata.h"

// The size a picture is asked for: the target, or less when the metadata
// gives a stored size larger than the target (proportions kept, computed in
// single precision and truncated). The stored size is used unturned.
PixelSize RequestedSize(std::int32_t targetWidth, std::int32_t targetHeight, const PictureMetadata& info);

// Afterwards `picture` holds the picture or stays empty, and `shown`, when
// given, the file's stamp from before it was read; never lets an error out.
// Private and low-rated pictures are dropped as the saver's settings say;
// 2- and 3-star pictures draw from the process's one random sequence.
void ExtractPreview(const std::string& path, std::int32_t targetWidth, std::int32_t targetHeight,
                    PictureHolder& picture, PictureMetadata& info, FileStamp* shown = nullptr);
