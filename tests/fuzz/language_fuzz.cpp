// Feeds arbitrary bytes as the language file to ReadLanguage, through the real
// file: a file of four or more bytes gives its first four, little-endian; a
// shorter one raises "Read beyond end of file"; nothing else may happen.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "app/Errors.h"
#include "app/Unit1.h"

namespace {

bool Prepare() {
    static std::string dir = [] {
        char tmpl[] = "/tmp/setup-fuzz-XXXXXX";
        const char* made = ::mkdtemp(tmpl);
        return std::string(made ? made : "");
    }();
    if (dir.empty() || ::chdir(dir.c_str()) != 0) return false;
    ::setenv("WINEPREFIX", (dir + "/no-prefix").c_str(), 1);  // no installed copy
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = Prepare();
    if (!ready) std::abort();
    std::FILE* f = std::fopen("dLangv.dat", "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) std::abort();
    Languagem = 12345;
    try {
        ReadLanguage();
    } catch (const EInOutError& e) {
        if (size >= 4 || e.ErrorCode() != 100 || SoubLnguag.IsOpen()) std::abort();
        return 0;
    }
    if (size < 4 || SoubLnguag.IsOpen()) std::abort();
    const std::uint32_t expected = data[0] | (data[1] << 8) | (data[2] << 16) | (std::uint32_t(data[3]) << 24);
    if (static_cast<std::uint32_t>(Languagem) != expected) std::abort();
    return 0;
}
