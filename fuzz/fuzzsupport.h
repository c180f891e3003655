// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

// A broken promise of the code under test is a finding: say which, then
// abort so that libFuzzer keeps the input.
inline void require(bool holds, const char *promise) {
    if (holds)
        return;
    std::fprintf(stderr, "fuzz: broken promise: %s\n", promise);
    std::abort();
}

// The bytes as Qt's byte array, without a copy.
inline QByteArray bytesOf(const uint8_t *data, size_t size) {
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
}

// An input of the form: one control byte (its low four bits a count n),
// n two-byte cut points, then the payload. The payload is cut at those
// points, taken modulo its size, as reads of a socket would cut it.
struct CutInput {
    uint8_t control = 0;
    QByteArrayView payload;
    std::vector<qsizetype> cuts; // ascending, within the payload

    CutInput(const uint8_t *data, size_t size) {
        if (size == 0)
            return;
        control = data[0];
        size_t pos = 1;
        const int count = control & 0x0f;
        std::vector<uint16_t> raw;
        for (int i = 0; i < count && pos + 2 <= size; ++i, pos += 2)
            raw.push_back(uint16_t(data[pos] | data[pos + 1] << 8));
        payload = QByteArrayView(reinterpret_cast<const char *>(data) + pos, qsizetype(size - pos));
        for (const uint16_t at : raw)
            if (!payload.isEmpty())
                cuts.push_back(at % payload.size());
        std::sort(cuts.begin(), cuts.end());
    }

    // The payload in pieces, as the cut points say.
    std::vector<QByteArrayView> pieces() const {
        std::vector<QByteArrayView> result;
        qsizetype from = 0;
        for (const qsizetype at : cuts) {
            result.push_back(payload.sliced(from, at - from));
            from = at;
        }
        result.push_back(payload.sliced(from));
        return result;
    }
};
