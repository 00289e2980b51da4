#include "metadata/write_verify.h"

#include <vips/vips.h>

#include <algorithm>
#include <filesystem>

#include "metadata/picture_decoder.h"
#include "metadata/structure_difference.h"
#include "metadata/tiff_structure.h"
#include "metadata/vips_image_ref.h"

namespace {

// Every page where the loader knows of pages (a later GIF frame or TIFF
// page is as much the user's picture as the first), else the one picture.
// Read through a source, never by name: a name ending in "]" would be taken
// for load options.
VipsImage* LoadAll(const std::string& path, VipsFailOn failOn) {
    VipsSource* source = vips_source_new_from_file(path.c_str());
    if (!source) return nullptr;
    VipsImage* image = vips_image_new_from_source(source, "", "n", -1, "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                                  failOn, nullptr);
    if (!image) {
        vips_error_clear();
        image = vips_image_new_from_source(source, "", "access", VIPS_ACCESS_SEQUENTIAL, "fail_on", failOn, nullptr);
    }
    g_object_unref(source);
    return image;
}

enum class Outcome { Same, Differs, Failed };

struct Comparison {
    Outcome outcome = Outcome::Same;
    std::string why;
};

Comparison Compare(const std::string& original, const std::string& copy, VipsFailOn failOn) {
    const ImageRef before(LoadAll(original, failOn));
    const ImageRef after(LoadAll(copy, failOn));
    if (!before.Get() || !after.Get()) {
        return {Outcome::Failed, before.Get() ? "the copy does not decode" : "the picture does not decode"};
    }
    if (before.Get()->Xsize != after.Get()->Xsize || before.Get()->Ysize != after.Get()->Ysize ||
        before.Get()->Bands != after.Get()->Bands || before.Get()->BandFmt != after.Get()->BandFmt) {
        return {Outcome::Differs, "the copy decodes to another size or format"};
    }
    // 255 wherever a band of a pixel is equal; the minimum finds any that is not.
    ImageRef equal;
    double least = 0;
    if (vips_equal(before.Get(), after.Get(), equal.Out(), nullptr) != 0 ||
        vips_min(equal.Get(), &least, nullptr) != 0) {
        return {Outcome::Failed, "the pixels could not be compared"};
    }
    if (least != 255) return {Outcome::Differs, "the copy's pixels differ"};
    return {};
}

// What the decoder finds wrong with the file, every page of it decoded;
// empty when nothing. The file's name is left out: two files differ in it.
std::string DecodeComplaint(const std::string& path) {
    vips_error_clear();
    const ImageRef image(LoadAll(path, VIPS_FAIL_ON_WARNING));
    double average = 0;
    if (image.Get() && vips_avg(image.Get(), &average, nullptr) == 0) return {};
    std::string complaint = vips_error_buffer();
    vips_error_clear();
    for (const std::string& name : {path, std::filesystem::path(path).filename().string()}) {
        for (std::size_t at; !name.empty() && (at = complaint.find(name)) != std::string::npos;) {
            complaint.erase(at, name.size());
        }
    }
    while (!complaint.empty() && complaint.back() == '\n') complaint.pop_back();
    return complaint.empty() ? "the decoder failed without a word" : complaint;
}

}  // namespace

std::string PixelDifference(const std::string& original, const std::string& copy) {
    if (!StartVips()) return "the decoder did not start";
    // Strictly first: a clean picture and a clean copy, the common case,
    // are decoded once each.
    Comparison comparison = Compare(original, copy, VIPS_FAIL_ON_WARNING);
    vips_error_clear();
    if (comparison.outcome != Outcome::Failed) return comparison.why;
    const std::string complaint = DecodeComplaint(copy);
    if (!complaint.empty() && complaint != DecodeComplaint(original)) {
        return "the copy decodes with a complaint the picture does not have: " + complaint;
    }
    comparison = Compare(original, copy, VIPS_FAIL_ON_NONE);
    vips_error_clear();
    return comparison.why;
}

std::string PairPieces(const std::vector<Piece>& original, const std::vector<Piece>& copy,
                       std::initializer_list<PieceKind> addable, std::vector<PiecePair>& pairs) {
    const auto had = [&original](PieceKind kind) {
        return std::any_of(original.begin(), original.end(), [kind](const Piece& piece) { return piece.kind == kind; });
    };
    std::size_t next = 0;
    for (const Piece& piece : copy) {
        const std::string where = std::string(piece.name) + " at byte " + std::to_string(piece.offset);
        if (piece.kind != PieceKind::Other && !had(piece.kind) &&
            std::find(addable.begin(), addable.end(), piece.kind) != addable.end()) {
            pairs.push_back({nullptr, &piece});
            continue;
        }
        if (next == original.size()) return "the copy has an extra " + where;
        const Piece& was = original[next++];
        if (was.kind != piece.kind) return "the copy's " + where + " stands where the picture has another";
        if (piece.kind == PieceKind::Other && piece.bytes != was.bytes) {
            return "the copy's " + where + " differs from the picture's";
        }
        pairs.push_back({&was, &piece});
    }
    if (next != original.size()) {
        return "the copy lacks the picture's " + std::string(original[next].name) + " at byte " +
               std::to_string(original[next].offset);
    }
    return {};
}

std::string StructureDifference(ContainerFormat format, std::string_view original, std::string_view copy) {
    try {
        switch (format) {
        case ContainerFormat::Jpeg: return JpegStructureDifference(original, copy);
        case ContainerFormat::Tiff: return TiffFileDifference(original, copy);
        case ContainerFormat::Png: return PngStructureDifference(original, copy);
        case ContainerFormat::WebP: return WebPStructureDifference(original, copy);
        case ContainerFormat::Unknown: break;
        }
        return "no reader for the picture's structure";
    } catch (const std::exception& error) {
        return std::string("the structure could not be read: ") + error.what();
    }
}
