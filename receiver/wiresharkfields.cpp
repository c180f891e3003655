// SPDX-License-Identifier: GPL-3.0-or-later
#include "wiresharkfields.h"

#include "amllayout.h"
#include "connectionstream.h"
#include "receiveroptions.h"
#include "recordfields.h"
#include "type4frame.h"

namespace {

// A Lua string literal: printable ASCII as is, everything else escaped.
QByteArray luaString(QByteArrayView text) {
    QByteArray out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            out += '\\' + QByteArray(1, c);
        else if (byte >= 0x20 && byte < 0x7f)
            out += c;
        else
            out += '\\' + QByteArray::number(byte).rightJustified(3, '0');
    }
    return out + '"';
}

const char *formName(AmlValueForm form) {
    switch (form) {
    case AmlValueForm::Date:
        return "date";
    case AmlValueForm::Time:
        return "time";
    case AmlValueForm::DateTime:
        return "datetime";
    case AmlValueForm::Text:
        break;
    }
    return "text";
}

template<std::size_t N>
QByteArray recordLayout(const char *name, const std::array<RecordField, N> &fields) {
    QByteArray out = QByteArray("    ") + name + " = {\n";
    for (const RecordField &field : fields)
        out += "        { name = " + luaString(field.name.toLatin1()) +
               ", width = " + QByteArray::number(field.width) + " },\n";
    return out + "    },\n";
}

QByteArray amlLayoutLua() {
    QByteArray out = "    aml = {\n";
    for (const AmlGroup &group : amlLayout()) {
        out += "        { name = " + luaString(group.name) + ", elements = {\n";
        for (const AmlElement &element : group.elements)
            out += "            { name = " + luaString(element.name) +
                   ", form = " + luaString(formName(element.form)) + " },\n";
        out += "        } },\n";
    }
    return out + "    },\n";
}

QByteArray number(qsizetype n) {
    return QByteArray::number(n);
}

} // namespace

QByteArray wiresharkFieldsLua(const ReceiverOptions &options) {
    QByteArray out = QByteArray(kWiresharkLayoutsBegin) + "\nlocal layouts = {\n";
    out += "    terminal_id_chars = " + number(Type4Frame::kTerminalIdChars) + ",\n";
    out += "    min_length_digits = " + number(Type4Frame::kMinLengthDigits) + ",\n";
    out += "    max_length_digits = " + number(Type4Frame::kMaxLengthDigits) + ",\n";
    out += "    max_frame_body_chars = " + number(options.maxFrameBodyChars) + ",\n";
    out += "    max_document_bytes = " + number(options.maxDocumentBytes) + ",\n";
    out += "    moli_shape_field = " + number(kMoliShapeField) + ",\n";
    out += "    moli_shape_letters = " + luaString(kMoliShapeLetters) + ",\n";
    out += recordLayout("ipnd", ipndFields());
    out += recordLayout("moli", moliFields());
    out += "    aml_root = " + luaString(kAmlRootName) + ",\n";
    out += "    aml_document_end = " + luaString(kAmlDocumentEnd) + ",\n";
    out += amlLayoutLua();
    out += "    heartbeat = " + luaString(heartbeatBytes()) + ",\n";
    out += "    heartbeat_answer = " + luaString(heartbeatAnswerBytes()) + ",\n";
    return out + "}\n" + kWiresharkLayoutsEnd + '\n';
}
