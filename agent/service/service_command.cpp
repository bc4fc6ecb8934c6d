#include "agent/service/service_command.h"

namespace vantorel {

std::u16string ServiceArguments(std::u16string_view languageCode, std::u16string_view countryCode) {
    std::u16string arguments = u" -XX:MinHeapFreeRatio=40 -Dserver -Duser.variant=WIN -Duser.language=";
    arguments += languageCode;
    arguments += u" -Duser.country=";
    arguments += countryCode;
    arguments += u" -cp *;localsvc_lib\\*; com.orlesk.kestrum.client.localsvc.HollinLocalService";
    return arguments;
}

std::u16string ProcessCommandLine(std::u16string_view applicationPath, std::u16string_view arguments) {
    const std::u16string_view fileName = FileNamePart(applicationPath);
    std::u16string commandLine;
    // Unquoted, a name with a blank would reach the program as two words
    // and shift all of its arguments by one.
    if (fileName.find_first_of(u" \t") != std::u16string_view::npos) {
        commandLine += u'"';
        commandLine += fileName;
        commandLine += u'"';
    } else {
        commandLine += fileName;
    }
    if (!arguments.empty() && arguments.front() != u' ') commandLine += u' ';
    commandLine += arguments;
    return commandLine;
}

std::u16string ServicePathValue(std::u16string_view installDirectory) {
    std::u16string value(installDirectory);
    value += u';';
    value += installDirectory;
    value += u"\\jre\\bin;";
    return value;
}

std::u16string_view DirectoryPart(std::u16string_view path) {
    const size_t slash = path.rfind(u'\\');
    return slash == std::u16string_view::npos ? std::u16string_view() : path.substr(0, slash + 1);
}

std::u16string_view FileNamePart(std::u16string_view path) {
    const size_t slash = path.rfind(u'\\');
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace vantorel
