// Rating, private label and orientation in a picture file's XMP metadata.
// Paths are byte strings, handed to the toolkit as they stand.
#pragma once

#include <string>

#include "metadata/picture_metadata.h"

// Brings the toolkit up on first use; a failure is remembered and not
// retried. Called by every read and write.
bool InitializeXmpToolkit();

// Brings the toolkit down once, at window destruction. A later read or write
// brings it up again.
void TerminateXmpToolkit();

// Overwrites the fields of info whose properties the file has; then the
// rating and label with those its XMP sidecar holds (see sidecar.h), if it
// has one that reads. Raises XmpToolkitError (see xmp_toolkit.h) when the
// file cannot be read: it cannot be opened, no smart handler takes its
// format, its metadata does not parse, or an integer property holds
// something else; fields read before stay set. A sidecar that cannot be
// read is passed over.
void ScanFileForMetadata(const std::string& path, PictureMetadata& info);

// Brings the file's Rating, Label and Orientation in line with info and
// rewrites the file, even when nothing differs; then the Rating and Label of
// its sidecar, if it has one, where they differ. Never lets an error out; a
// write that fails leaves its file as it was, and the other still stands.
void WriteMetadataToFile(const std::string& path, const PictureMetadata& info);
