// Its own file: Setup.exe never reads it, so its link leaves it out.
#include "app/InstallPlan.h"

const std::vector<ShortcutTarget>& ShortcutTargets() {
    static const std::vector<ShortcutTarget> targets = {
        {L"Orvo Tool.lnk", L"C:\\Orvo_Tool\\Orvo Tool.exe", false},
        {L"Orvo_Tool DATA.lnk", L"C:\\Orvo_Tool Data", true},
    };
    return targets;
}
