#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "record/crypto.h"

namespace zav::cli {

const CommandInfo kKeygenCommand{
    .name = "keygen",
    .synopsis = "keygen FILE",
    .summary = "Makes an Ed25519 key pair for signing records: the private key FILE,\n"
               "readable by its owner only, and the public key FILE.pub, which\n"
               "zavprint verify --key checks signatures with. Each file is one line,\n"
               "\"zavprint-ed25519-secret-key HEX\" or \"zavprint-ed25519-public-key HEX\"\n"
               "(64 hexadecimal digits). An existing file is never overwritten.",
    .options = {},
    .maxOperands = 1,
};

int RunKeygen(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs(kKeygenCommand, argc, argv, args))
        return args.exitStatus;
    if (args.operands.empty())
        return UsageError(kKeygenCommand, "name the key file");
    const std::string path = args.operands[0];
    record::PublicKey key{};
    std::string failed;
    const int result = record::WriteKeyPair(path, &key, &failed);
    if (result != record::kKeyOk) {
        std::fprintf(stderr, "zavprint keygen: %s%s%s\n", failed.c_str(),
                     failed.empty() ? "" : ": ", record::KeyFileResultText(result));
        return 1;
    }
    std::printf("private key: %s (readable by its owner only; keep it secret)\n"
                "public key: %s.pub (key %s)\n",
                path.c_str(), path.c_str(), record::KeyId(key).c_str());
    return 0;
}

} // namespace zav::cli
