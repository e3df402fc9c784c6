// SHA-256 checksums of the input files for the run record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The SHA-256 digest of `bytes` as 64 lower-case hex digits.
std::string sha256_hex(std::string_view bytes);

struct FileDigest {
  bool read = false;       ///< false when the file could not be read
  std::uint64_t size = 0;  ///< bytes
  std::string sha256;      ///< hex digest
};

// Reads the file at `path` in pieces and digests it.
FileDigest digest_file(const std::string& path);
