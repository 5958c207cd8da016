// qmsock keygen / fingerprint: RSA key pairs of the library's scheme and the fingerprints that
// a listening side's Fingerprints list holds.
//
// Contract: keygen prints the public key text, the private key text and the fingerprint, one
// per line, or writes either key text to a file instead (the fingerprint is always printed).
// Standard output carries only those lines when it is not a terminal, so scripts can read
// them; on a terminal the lines are labelled. Progress of the prime search goes to standard
// error, and only when standard error is a terminal. Key files are written to a temporary
// file and renamed into place when complete; the private key file is readable by its owner
// only (on POSIX). fingerprint takes a key text as its argument or from a file (surrounding
// white space ignored). Exit codes follow command.h: 0 done, 1 failure, 2 bad arguments.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "command.h"
#include "crypto/rsa.h"

#ifdef _WIN32
#include <io.h>  // _isatty
#else
#include <unistd.h>  // isatty
#endif

namespace qm::tool {

namespace {

bool IsTerminal(FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

int BadArgument(std::string_view command, const std::string& what) {
    std::fprintf(stderr, "qmsock %.*s: %s (try qmsock %.*s --help)\n", static_cast<int>(command.size()),
                 command.data(), what.c_str(), static_cast<int>(command.size()), command.data());
    return 2;
}

std::string Quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

// Writes `text` and a line end to `path` through a temporary file beside it.
bool WriteKeyFile(const std::string& path, const std::string& text, bool ownerOnly) {
    namespace fs = std::filesystem;
    std::random_device entropy;
    const fs::path target{path};
    const fs::path temp = target.string() + "." + std::to_string(entropy() & 0xFFFFFF) + ".tmp";
    std::error_code ec;
    {
        std::ofstream f(temp, std::ios::binary | std::ios::trunc);
        if (!f) {
            std::fprintf(stderr, "qmsock keygen: cannot create %s\n", Quoted(path).c_str());
            return false;
        }
        // Restrict the file before the secret goes into it.
        if (ownerOnly) {
            fs::permissions(temp, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace,
                            ec);
        }
        f << text << '\n';
        f.close();
        if (!f || ec) {
            fs::remove(temp, ec);
            std::fprintf(stderr, "qmsock keygen: cannot write %s\n", Quoted(path).c_str());
            return false;
        }
    }
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        std::fprintf(stderr, "qmsock keygen: cannot write %s\n", Quoted(path).c_str());
        return false;
    }
    return true;
}

// Reads "--name VALUE" or "--name=VALUE" at args[i]; advances i past what it used.
enum class OptionMatch { No, Yes, MissingValue };
OptionMatch TakeOption(const std::vector<std::string_view>& args, std::size_t& i, std::string_view name,
                       std::string& value) {
    const std::string_view a = args[i];
    if (a == name) {
        if (i + 1 >= args.size()) return OptionMatch::MissingValue;
        value = std::string(args[++i]);
        return OptionMatch::Yes;
    }
    if (a.size() > name.size() && a.substr(0, name.size()) == name && a[name.size()] == '=') {
        value = std::string(a.substr(name.size() + 1));
        return OptionMatch::Yes;
    }
    return OptionMatch::No;
}

constexpr std::string_view kKeygenUsage =
    "usage: qmsock keygen [--public-key-file FILE] [--private-key-file FILE]\n"
    "Generates an RSA key pair of the library's scheme (two primes of up to 512 bits, public\n"
    "exponent 65537) and prints the public key text, the private key text and the fingerprint\n"
    "of the public key, one per line. With a FILE option that key text is written to FILE\n"
    "instead of being printed; the fingerprint is always printed. The private key file is made\n"
    "readable by its owner only.";

constexpr std::string_view kFingerprintUsage =
    "usage: qmsock fingerprint KEYTEXT\n"
    "       qmsock fingerprint --file FILE\n"
    "Prints the fingerprint of a public key text (Base64 of the MD5 digest of the key bytes),\n"
    "the form a listening side's list of accepted fingerprints holds. With --file the key\n"
    "text is read from FILE; white space around it is ignored.";

int RunKeygen(const std::vector<std::string_view>& args) {
    std::string publicFile, privateFile;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::printf("%.*s\n", static_cast<int>(kKeygenUsage.size()), kKeygenUsage.data());
            return 0;
        }
        bool used = false;
        for (auto [name, target] :
             {std::pair<std::string_view, std::string*>{"--public-key-file", &publicFile},
              std::pair<std::string_view, std::string*>{"--private-key-file", &privateFile}}) {
            const OptionMatch m = TakeOption(args, i, name, *target);
            if (m == OptionMatch::MissingValue)
                return BadArgument("keygen", "option " + Quoted(name) + " needs a file name");
            if (m == OptionMatch::Yes) {
                if (target->empty())
                    return BadArgument("keygen", "option " + Quoted(name) + " needs a file name");
                used = true;
                break;
            }
        }
        if (used) continue;
        if (args[i].size() > 1 && args[i][0] == '-')
            return BadArgument("keygen", "unknown option " + Quoted(args[i]));
        return BadArgument("keygen", "unexpected argument " + Quoted(args[i]));
    }
    if (!publicFile.empty() && publicFile == privateFile) {
        return BadArgument("keygen", "both keys would go to the same file " + Quoted(publicFile));
    }

    const bool showProgress = IsTerminal(stderr);
    const KeygenProgress progress = [showProgress](int prime, std::uint32_t candidates) {
        if (!showProgress) return;
        std::fprintf(stderr, "\rsearching for prime %d of 2: candidate %u   ", prime + 1, candidates);
        std::fflush(stderr);
    };
    std::string publicText, privateText;
    // A pair fails only when 65537 divides (p-1)(q-1), about once in 30000 pairs: try again.
    bool made = false;
    for (int attempt = 0; attempt < 3 && !made; ++attempt)
        made = GenerateKeypair(publicText, privateText, progress);
    if (showProgress) std::fprintf(stderr, "\r%50s\r", "");
    if (!made) {
        std::fprintf(stderr, "qmsock keygen: no working key pair could be made\n");
        return 1;
    }
    const std::string fingerprint = TakeFingerprint(publicText);

    if (!publicFile.empty() && !WriteKeyFile(publicFile, publicText, false)) return 1;
    if (!privateFile.empty() && !WriteKeyFile(privateFile, privateText, true)) return 1;

    const bool labels = IsTerminal(stdout);
    auto line = [labels](const char* label, const std::string& text) {
        if (labels) std::printf("%-13s", label);
        std::printf("%s\n", text.c_str());
    };
    if (publicFile.empty()) line("public key:", publicText);
    if (privateFile.empty()) line("private key:", privateText);
    line("fingerprint:", fingerprint);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

std::string Trim(const std::string& s) {
    const char* space = " \t\r\n\f\v";
    const std::size_t first = s.find_first_not_of(space);
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(space) - first + 1);
}

int RunFingerprint(const std::vector<std::string_view>& args) {
    std::string keyText, file;
    bool haveKey = false, haveFile = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::printf("%.*s\n", static_cast<int>(kFingerprintUsage.size()), kFingerprintUsage.data());
            return 0;
        }
        const OptionMatch m = TakeOption(args, i, "--file", file);
        if (m == OptionMatch::MissingValue)
            return BadArgument("fingerprint", "option '--file' needs a file name");
        if (m == OptionMatch::Yes) {
            if (haveFile) return BadArgument("fingerprint", "option '--file' given twice");
            haveFile = true;
            continue;
        }
        if (args[i].size() > 1 && args[i][0] == '-') {
            return BadArgument("fingerprint", "unknown option " + Quoted(args[i]));
        }
        if (haveKey) return BadArgument("fingerprint", "unexpected argument " + Quoted(args[i]));
        keyText = std::string(args[i]);
        haveKey = true;
    }
    if (haveKey == haveFile) {
        return BadArgument("fingerprint",
                           haveKey ? "give a key text or --file, not both" : "no key text given");
    }
    if (haveFile) {
        std::ifstream f(file, std::ios::binary);
        if (!f) {
            std::fprintf(stderr, "qmsock fingerprint: cannot open %s\n", Quoted(file).c_str());
            return 1;
        }
        keyText = Trim(std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()));
    }
    const std::string fingerprint = TakeFingerprint(keyText);
    if (fingerprint.empty()) {
        if (haveFile) {
            std::fprintf(stderr, "qmsock fingerprint: %s does not hold a key text\n", Quoted(file).c_str());
            return 1;
        }
        return BadArgument("fingerprint", "not a key text: " + Quoted(keyText));
    }
    std::printf("%s\n", fingerprint.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

const Registrar keygenCommand{
    {"keygen", "generate an RSA key pair and its fingerprint", kKeygenUsage, &RunKeygen}};
const Registrar fingerprintCommand{
    {"fingerprint", "print the fingerprint of a public key text", kFingerprintUsage, &RunFingerprint}};

}  // namespace

}  // namespace qm::tool
