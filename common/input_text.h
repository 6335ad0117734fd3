// An input file's bytes as the user hands them over: a path, "-" for
// standard input, a pipe or FIFO (`<(zcat x.gz)`), each read exactly once;
// and gzip-compressed text unpacked, recognised by its magic bytes rather
// than by the name, so that a compressed stream through a pipe works too.
#ifndef KORVELAN_COMMON_INPUT_TEXT_H_
#define KORVELAN_COMMON_INPUT_TEXT_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace korvelan::tools {

// The bytes of `path`, or of standard input for "-". Throws ToolError
// naming the input and the system's reason.
std::string ReadInputBytes(const std::filesystem::path& path);

// `bytes` unpacked when they are gzip data (several members in a row, as
// `cat a.gz b.gz` makes, are one text); otherwise `bytes` unchanged.
// Throws ToolError naming `source` for damaged or truncated gzip data.
std::string Unpacked(std::string bytes, const std::string& source);

// The study name a file gives: its name without ".gz" and without the
// extension ("GSE1.tsv.gz" -> "GSE1"); "stdin" for "-".
std::string StudyNameOf(const std::filesystem::path& path);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_INPUT_TEXT_H_
