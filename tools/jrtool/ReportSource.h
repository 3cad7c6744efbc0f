// The arguments of `jobresults report`: directory names, each with the
// name of the host whose files they are, as HOST=DIR.
#ifndef JRTOOL_REPORTSOURCE_H
#define JRTOOL_REPORTSOURCE_H

#include <string>

namespace jrtool {

struct ReportSource {
    std::string host;  // empty for a plain DIR
    std::string dirName;
};

// A directory name may hold any byte, '=' too, so HOST=DIR is taken only
// where HOST reads as a host name: one or more letters, digits, '.', '-',
// '_' and ':' (a port or an IPv6 address) before the first '='. A leading
// '=' marks the rest as a plain DIR whatever it holds; any other argument
// is a plain DIR whole (so "./a=b" and "/srv/a=b" are).
ReportSource ParseReportSource(const std::string& argument);

}  // namespace jrtool

#endif
