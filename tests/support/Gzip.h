#pragma once

#include <string>

// The bytes gzip-compressed at the best level, as a server sends them with
// "Content-Encoding: gzip". Throws when zlib fails.
std::string Gzip(const std::string &data);
