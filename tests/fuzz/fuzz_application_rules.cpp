// A stored rule is whatever some program left in the registry: any bytes as a rule and as the
// fallback, taken only when they format back to themselves, and a taken program must find itself.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "profiles/application_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the bytes given, on the heap, so that a read past them is seen.
    std::vector<uint8_t> bytes(data, data + size);
    const uint8_t* given = bytes.empty() ? nullptr : bytes.data();
    Utf16 text[kRuleValueUnits];
    static auto rules = std::make_unique<ApplicationRules>();
    ApplicationRule& rule = rules->rules[0];
    if (ParseApplicationRule(given, bytes.size(), kRuleValueString, &rule)) {
        if (!FormatApplicationRule(&rule, text, kRuleValueUnits))
            __builtin_trap();
        std::vector<uint8_t> again;
        for (size_t i = 0; text[i] != 0; ++i) {
            again.push_back(static_cast<uint8_t>(text[i] & 0xFF));
            again.push_back(static_cast<uint8_t>(text[i] >> 8));
        }
        ApplicationRule back;
        if (!ParseApplicationRule(again.data(), again.size(), kRuleValueString, &back) ||
            std::memcmp(&back, &rule, sizeof rule) != 0)
            __builtin_trap();
        // A full-path rule matches its own path; a file-name rule that path under any folder.
        rules->count = 1;
        Utf16 path[kRulePathChars + 3] = u"C:\\";
        const Utf16* image = rule.program;
        if (rule.program[0] != u'\\' && rule.program[0] != u'/' && rule.program[1] != u':') {
            CopyUtf16(path + 3, kRulePathChars, rule.program);
            image = path;
        }
        if (Utf16Length(image, kRulePathChars) < kRulePathChars &&
            MatchApplicationRule(rules.get(), image) != 0)
            __builtin_trap();
    }
    Utf16 fallback[2][kRulePathChars];
    if (ParseFallbackRule(given, bytes.size(), kRuleValueString, fallback) &&
        (!FormatFallbackRule(fallback, text, kRuleValueUnits) ||
         Utf16Length(text, kRuleValueUnits) >= kRuleValueUnits))
        __builtin_trap();
    return 0;
}
