#pragma once

#include <QByteArray>
#include <QtEndian>

// The header of a 32-bit BMP of that size, followed by a few pixels only: enough for a reader
// to take the size from, far short of the pixels the size calls for.
inline QByteArray bmpHeader(qint32 width, qint32 height)
{
    QByteArray bmp(54, '\0');
    auto* p = reinterpret_cast<uchar*>(bmp.data());
    p[0] = 'B';
    p[1] = 'M';
    qToLittleEndian<quint32>(54 + 16, p + 2);
    qToLittleEndian<quint32>(54, p + 10);
    qToLittleEndian<quint32>(40, p + 14);
    qToLittleEndian<qint32>(width, p + 18);
    qToLittleEndian<qint32>(height, p + 22);
    qToLittleEndian<quint16>(1, p + 26);
    qToLittleEndian<quint16>(32, p + 28);
    return bmp + QByteArray(16, '\x7f');
}
