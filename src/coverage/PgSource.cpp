#include "coverage/PgSource.h"

#include <libpq-fe.h>

#include <cstring>
#include <memory>

bool PgSource::is(const std::string& source)
{
    return source.size() >= 3 && (source[0] == 'P' || source[0] == 'p') && (source[1] == 'G' || source[1] == 'g')
           && source[2] == ':';
}

std::string PgSource::conninfo(const std::string& source)
{
    return is(source) ? source.substr(3) : source;
}

std::string PgSource::shown(const std::string& source)
{
    const std::string text = conninfo(source);
    char* why = nullptr;
    const std::unique_ptr<PQconninfoOption, void (*)(PQconninfoOption*)> options(PQconninfoParse(text.c_str(), &why),
                                                                                 PQconninfoFree);
    if (!options) {
        // libpq's reason quotes the text, which may hold the password.
        PQfreemem(why);
        return std::string(kPrefix) + "(connection text libpq cannot read)";
    }
    std::string out = kPrefix;
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (!o->val || std::strcmp(o->keyword, "password") == 0)
            continue;
        if (out.size() > 3)
            out += ' ';
        out += o->keyword;
        out += '=';
        // Quoted as libpq reads it back when empty or holding a space, quote or backslash.
        const std::string value = o->val;
        if (!value.empty() && value.find_first_of(" '\\") == std::string::npos) {
            out += value;
            continue;
        }
        out += '\'';
        for (char c : value) {
            if (c == '\'' || c == '\\')
                out += '\\';
            out += c;
        }
        out += '\'';
    }
    return out;
}
