#pragma once

namespace velmora::testing {

// Points XDG_CACHE_HOME at a fresh folder of this process's own, removed at exit, so that a
// reply the SDK's shared URL cache kept on disk in one test run is never served to another
// (ports repeat between runs). Runs once per process, before main, in every test program
// that links the loopback servers; calling it again does nothing.
void isolateUserCacheFolder();

}  // namespace velmora::testing
