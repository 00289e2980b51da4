// Rating, private label and orientation in a picture file's XMP metadata.
// Paths are byte strings, handed to the toolkit as they stand.
#pragma once

#include <string>

#include "metadata/file_check.h"
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

// The properties a menu choice sets; a write changes only those it is given.
enum MetadataField : unsigned {
    kRatingField = 1,
    kLabelField = 2,
    kOrientationField = 4,
    kAllFields = kRatingField | kLabelField | kOrientationField,
};

// Sets the chosen fields of info in the file, each where it differs from
// what the file holds now (every other property is read from the file as it
// is, never from an earlier read), by editing the packet's text in place:
// nothing else in the file changes, and with padding room not even its size.
// The rating and label also go into the picture's sidecar when it has one
// that reads (it wins over the picture, so it must take them), and into a
// new sidecar "NAME.EXT.xmp" when the picture cannot take them without
// moving data that offsets point at. With shown, the write first checks that
// the file under path is still the one shown and refuses otherwise; on
// success shown becomes the file's new stamp.
// True when the choice is saved; false, with the files as they were and the
// reason in the log (naming the file), when it is refused. Never raises.
bool WriteMetadataToFile(const std::string& path, const PictureMetadata& info, unsigned fields = kAllFields,
                         FileStamp* shown = nullptr);
