#include "discovery/PublishedPorts.h"

#include "discovery/NaturalOrder.h"
#include "util/WideText.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

std::string PublishedPortsFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        return std::string(runtime) + "/orvane/ports";
    return "/tmp/orvane-" + std::to_string(::getuid()) + "/ports";
}

void EnumeratePublishedPortsAt(const std::string& folder, const PortNameSink& sink)
{
    try
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end(), NaturalLess);
        for (const std::string& name : names)
        {
            const std::string path = folder + "/" + name;
            struct stat st{};
            if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && sink)
                sink(FromUtf8(path));
        }
    }
    catch (...)
    {
        // A folder that vanishes while it is read offers what was found.
    }
}
