// The check of a rewritten copy's structure against its picture's, one per
// container format, behind StructureDifference; and what they share: both
// files seen as pieces (segments, chunks, the data between them) matched in
// order. Each raises ContainerError on bytes it cannot read.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

enum class PieceKind { Other, Xmp, Exif, Header };

struct Piece {
    PieceKind kind = PieceKind::Other;
    std::size_t offset = 0;  // in its file
    std::string_view bytes;
    const char* name = "";  // for the log: "segment", "chunk", "image data"
};

struct PiecePair {
    const Piece* original = nullptr;  // nullptr where the copy added the piece
    const Piece* copy = nullptr;
};

// The copy's pieces paired in order with the original's into pairs. A piece
// of a kind in addable that the original lacks may be added; every piece of
// kind Other must be the original's bytes. Empty when they pair, else why not.
std::string PairPieces(const std::vector<Piece>& original, const std::vector<Piece>& copy,
                       std::initializer_list<PieceKind> addable, std::vector<PiecePair>& pairs);

std::string JpegStructureDifference(std::string_view original, std::string_view copy);
std::string PngStructureDifference(std::string_view original, std::string_view copy);
std::string WebPStructureDifference(std::string_view original, std::string_view copy);
