// Appends COUNT lines to FOLDER/audit.log as fast as it can, each naming
// WRITER and its number: one of the writers of the audit log test.
#include <cstdio>
#include <cstdlib>

#include "record/audit_log.h"

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    const zav::record::Identity who{"computer", "user", argv[2]};
    const long count = std::atol(argv[3]);
    for (long i = 0; i < count; ++i) {
        zav::record::AuditEvent event{"test", argv[2]};
        event.details.Add("n", zav::record::Json::Number(static_cast<std::uint64_t>(i)));
        std::string error;
        if (zav::record::AppendAuditEvent(argv[1], event, who, nullptr, &error) != 0) {
            std::fprintf(stderr, "line %ld: %s\n", i, error.c_str());
            return 1;
        }
    }
    return 0;
}
