#include "line/family_per_tone.h"

#include <algorithm>

void DropUnmeasured(TSpectrumPart& part)
{
    if (std::none_of(part.Groups.begin(), part.Groups.end(), IsMeasured))
        part.Groups.clear();
}

bool IsSpectrumRole(TReplyRole role)
{
    switch (role) {
    case TReplyRole::SnrUp: case TReplyRole::SnrDown: case TReplyRole::SnrBoth:
    case TReplyRole::QlnUp: case TReplyRole::QlnDown: case TReplyRole::QlnBoth:
    case TReplyRole::HlogUp: case TReplyRole::HlogDown: case TReplyRole::HlogBoth:
        return true;
    default:
        return false;
    }
}

bool LantiqOlderApi(std::string_view versionReply)
{
    // Older pipes name the library, later ones the driver's API.
    for (const std::string_view key : {"DSL_DriverVersionApi=", "DSL_APILibraryVersion="}) {
        const std::size_t at = versionReply.find(key);
        if (at == std::string_view::npos)
            continue;
        const std::string_view value = versionReply.substr(at + key.size());
        return value.size() >= 2 && value[0] == '2' && value[1] == '.';
    }
    return false;
}

bool LantiqVr9(std::string_view versionReply)
{
    const std::string_view key = "DSL_ChipSetType=";
    const std::size_t at = versionReply.find(key);
    if (at == std::string_view::npos)
        return false;
    std::string_view type = versionReply.substr(at + key.size());
    type = type.substr(0, type.find_first_of(" \t\r\n"));
    // The VR9 family's chips name themselves VRX2xx (VRX200, VRX288...).
    return type.find("VR9") != std::string_view::npos || type.find("VRX2") != std::string_view::npos;
}

std::string FamilyCommandText(const TFamilyCommand& command, const TFamilyReplies& replies)
{
    if (!command.OlderApi)
        return command.Command;
    const auto version = replies.find(TReplyRole::Version);
    return version != replies.end() && LantiqOlderApi(version->second) ? command.OlderApi : command.Command;
}
