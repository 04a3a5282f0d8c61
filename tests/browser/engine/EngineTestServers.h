// The servers every engine test shares (made by the test main before the engine starts).
#pragma once

#include "LoopbackHttp.h"

namespace velm::test {

inline constexpr const char* kSiteHost = "game.example";
inline constexpr const char* kSiteRoot = "http://game.example/";

extern TSiteServer* gSite;
extern TRecordingProxy* gProxy;

}  // namespace velm::test
