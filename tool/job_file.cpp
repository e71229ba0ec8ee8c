#include "tool/job_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kestrova::tool {

bool readWholeFile(const std::string& path, std::string& contents, std::string& error) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    contents.clear();
    char buffer[64 * 1024];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        contents.append(buffer, got);
        if (got < sizeof buffer) break;
    }
    if (std::ferror(file.get()) != 0) {
        error = "cannot read " + path + " (is it a directory?)";
        return false;
    }
    return true;
}

bool writeWholeFile(const std::string& path, const std::string& contents, std::string& error) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    if (std::fwrite(contents.data(), 1, contents.size(), file.get()) != contents.size() ||
        std::fflush(file.get()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

JobQueue parseJob(const std::string& contents, const CoordinateRules& horizontal, const CoordinateRules& vertical) {
    JobQueue queue;
    queue.horizontalRules = horizontal;
    queue.verticalRules = vertical;
    JobStream stream;
    stream.append(reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size());
    splitJobStream(stream, queue);
    return queue;
}

std::string documentName(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace kestrova::tool
