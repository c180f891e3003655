// SPDX-License-Identifier: GPL-3.0-or-later
// The test plan reader: whatever the file holds, one error line or a plan,
// never an exception, a crash or a hang.
#include "fuzzsupport.h"
#include "plandocument.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    QString error;
    const std::optional<Plan> plan =
        readPlanText(bytesOf(data, size), QStringLiteral("fuzz.yaml"), {}, &error);
    require(plan.has_value() == error.isEmpty(), "a plan or an error, never both or neither");
    require(!error.contains(QLatin1Char('\n')), "an error in a plan is one line");
    require(plan.has_value() || error.startsWith(QStringLiteral("fuzz.yaml")),
            "an error names the plan file");
    if (plan)
        require(!plan->cases.isEmpty(), "a plan has cases");
    return 0;
}
