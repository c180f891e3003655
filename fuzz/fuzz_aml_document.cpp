// SPDX-License-Identifier: GPL-3.0-or-later
// The AML document splitter and checker: documents back to back in one
// buffer, each checked, the rest left for later.
#include "amllayout.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray original = bytesOf(data, size);
    QByteArray buffer(original.constData(), original.size());
    const QList<QByteArray> documents = takeCompleteDocuments(buffer);
    QByteArray joined;
    for (const QByteArray &document : documents) {
        require(document.endsWith(kAmlDocumentEnd), "a document ends with its end tag");
        require(document.indexOf(kAmlDocumentEnd) ==
                    document.size() - qsizetype(sizeof(kAmlDocumentEnd) - 1),
                "a document holds one end tag");
        const AmlCheck check = checkAmlDocument(document);
        require(check.ok == check.reason.isEmpty(), "a refusal has a reason, a pass none");
        joined += document;
    }
    require(!buffer.contains(kAmlDocumentEnd), "the rest holds no complete document");
    require(joined + buffer == original, "the split loses and adds nothing");
    const AmlCheck whole = checkAmlDocument(original);
    require(whole.ok == whole.reason.isEmpty(), "a refusal has a reason, a pass none");
    return 0;
}
