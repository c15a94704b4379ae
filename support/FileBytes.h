#pragma once
// Whole files as bytes, read and written in one piece.

#include <string>
#include <string_view>
#include <vector>

namespace tandrel::support {

/// The whole content of the file. Throws std::system_error ("cannot read " +
/// FileName, with the system's reason) when it cannot be opened or read.
std::string ReadFileBytes(const std::string& FileName);

/// The lines of a text file, without the LF (or CR LF) that ends each; a last
/// line without one counts too. Read a buffer at a time. Throws like ReadFileBytes.
std::vector<std::string> ReadFileLines(const std::string& FileName);

/// Creates or replaces the file with the pieces, one after the other, written
/// with as few system calls as the pieces allow. Throws std::system_error
/// ("cannot write " + FileName) when it cannot be created or written.
void WriteFileBytes(const std::string& FileName, const std::vector<std::string_view>& Pieces);

}  // namespace tandrel::support
