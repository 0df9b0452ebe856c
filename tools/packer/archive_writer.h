// Builds data archives from directory trees and lists them again.
//
// Every directory given becomes a top-level directory entry named by its
// basename. Children are sorted by name, comparing the lower-cased names byte
// by byte, so the archive is the same whatever order the file system lists.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace packer {

// Appends to out the archive of the given directories; false with error set on failure.
bool BuildArchive(const std::vector<std::string>& directories, std::vector<uint8_t>& out, std::string& error);

// The 11-byte trailer that points at an archive starting at offset.
std::vector<uint8_t> MakeTrailer(int32_t offset);

// The tree of an archive held in bytes: appended (with trailer) or standalone.
// One line per entry, indented two spaces per level: directories (type 1) end
// in "/", files show their content size. False with error set when malformed.
bool ListArchive(const std::vector<uint8_t>& bytes, std::string& out, std::string& error);

} // namespace packer
