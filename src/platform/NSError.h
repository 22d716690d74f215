#pragma once
// A plain error object: a domain, a code and a text for people.

#include <QString>

namespace glimra {

struct NSError {
    QString domain;
    qint64 code = 0;
    QString localizedDescription;
};

} // namespace glimra
