// What the metadata read and the metadata write share.
#pragma once

#include <string>

#include "metadata/picture_metadata.h"
#include "metadata/xmp_container.h"
#include "metadata/xmp_toolkit.h"

inline constexpr char kPrivateLabel[] = "private";
inline constexpr char kClearedLabel[] = "none";

// Raises XmpToolkitError when the toolkit is not up: what it would do then is
// undefined, and refusing gives the outcome of any other toolkit failure.
void RequireToolkit();

// The whole file; raises std::runtime_error when it cannot be read.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// The container the file's leading bytes show; the name is not asked.
ContainerFormat SniffFile(const std::string& path);

// The rating and label where meta holds them.
void FillChoices(const XmpMeta& meta, PictureMetadata& info);

// What the file itself holds, sidecar aside; raises as ScanFileForMetadata.
void ScanOwnMetadata(const std::string& path, PictureMetadata& info);

// The sidecar's rating and label over those in info, each where it holds
// it. Raises, info untouched, when the sidecar is unusable.
void ReadSidecarChoices(const std::string& sidecar, PictureMetadata& info);

// Raises when text is no XMP document; such a sidecar is no sidecar: nothing
// is read from it and nothing written to it.
void ParseSidecar(const std::string& text, XmpMeta& meta);
