#pragma once

#include <cstdio>
#include <string>

namespace veltrane::test {

// What poppler reads out of a PDF file: its text as laid out, and its page
// count; empty and 0 when the file is no PDF.
inline std::string PopplerOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

inline std::string PdfText(const std::string& path) {
    return PopplerOutput("pdftotext -layout '" + path + "' - 2>/dev/null");
}

inline int PdfPages(const std::string& path) {
    const std::string info = PopplerOutput("pdfinfo '" + path + "' 2>/dev/null");
    const std::size_t at = info.find("Pages:");
    return at == std::string::npos ? 0 : std::stoi(info.substr(at + 6));
}

} // namespace veltrane::test
