// One field of a CSV line as every CSV the program writes has it (RFC 4180):
// a field holding a comma, a quote, a carriage return or a line feed is
// quoted, with its quotes doubled; any other stays as it is. UTF-8.
#pragma once

#include <QByteArray>
#include <QString>

QByteArray CsvField(const QString& text);
