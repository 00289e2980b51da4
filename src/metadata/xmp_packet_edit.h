// Edits to an XMP packet's own text. A write changes the properties the user
// chose where they stand and leaves every other byte of the packet as it
// was: a parse-and-serialise round trip through the toolkit loses second
// languages, some Exif properties held in XMP and trailing comments, so
// nothing the toolkit serialises ever goes into a user's file.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The packet is laid out in a way the editor cannot change safely; the file
// is then left as it is and the message says why, for the log.
class PacketEditError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A simple property and the text it is to hold.
struct PacketProperty {
    std::string schema;  // namespace URI, e.g. "http://ns.adobe.com/xap/1.0/"
    std::string name;    // local name, e.g. "Rating"
    std::string value;   // unescaped text; an integer as its decimal digits
};

// The packet with each property set to its value. A property already there
// (as an attribute of an rdf:Description or as its child element holding
// text) gets the new value where it stands, in the quotes or element it had;
// one not there becomes an attribute of the rdf:Description that already
// has properties in its namespace, else of one that declares it, else of the
// first one, with a namespace declaration when none is in scope (the usual
// prefix, or a free variant of it). Every other byte stays. Properties are
// set in turn, each seeing the packet as the ones before left it.
// When keepSize is set and the packet has an "<?xpacket end=" trailer, the
// whitespace padding before it gives or takes the difference (spaces first,
// so that its line ends stay), and the result has the packet's length
// whenever the change fits; a change that does not fit leaves the padding as
// it was and the result longer.
// Raises PacketEditError when the packet cannot be edited safely: its markup
// does not read as well-formed XML (see xml_scanner.h for what else is
// refused), it is not x:xmpmeta around rdf:RDF around rdf:Description
// elements only, the property is defined more than once (in one description
// or in several) or in any form other than simple text (a resource, a
// structure, an array, a qualifier, rdf:parseType), or a property's name or
// value cannot be written as XML text. Nothing here parses through the
// toolkit: a caller that must be sure checks the result with PacketDifference.
std::string EditPacket(std::string_view packet, const std::vector<PacketProperty>& properties, bool keepSize);

// A packet for a file that has none: the xpacket wrapper, x:xmpmeta, rdf:RDF
// and one empty rdf:Description (rdf:about=""), followed by padding bytes of
// whitespace inside the wrapper, in lines of 100 bytes (0 for a sidecar,
// where the file's size is free). EditPacket then adds the properties.
std::string NewPacket(std::size_t padding);

// Empty when after parses and holds exactly what before holds (every
// property, array item, structure field and qualifier, with its value and
// options, in order within each schema; the order of schemas means
// nothing), except that each property of changed is there as simple text
// holding its new value; otherwise what differs first, for the log. before may be
// empty, meaning no packet. Parses through the toolkit; serialises nothing.
std::string PacketDifference(std::string_view before, std::string_view after,
                             const std::vector<PacketProperty>& changed);
