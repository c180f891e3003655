// SPDX-License-Identifier: GPL-3.0-or-later
// ParseCommandLine and its two conversions over any text: at most ten
// fields filled, one problem line per token it could not convert.
#include "commandline.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString text = QString::fromUtf8(bytesOf(data, size));
    const ParsedCommandLine parsed = ParseCommandLine(text);
    // Only the three flags and the period can fail to convert.
    require(parsed.problems.size() <= 4, "at most one problem per converted field");
    const StartupArgs &args = parsed.args;
    for (const QString *field : {&args.Type4Port, &args.Type4Address, &args.Type5Port,
                                 &args.Type5Address, &args.TitlePrefix, &args.DataFile})
        require(!field->contains(QLatin1Char(' ')) && !field->contains(QLatin1Char('\t')),
                "a field holds one token");
    require(args.DataFile.isEmpty() || args.DataFile.startsWith(QLatin1String(".\\")),
            "the data file is in the current folder");
    bool ok = false;
    toBoolean(text, &ok);
    toInteger(text, &ok);
    return 0;
}
