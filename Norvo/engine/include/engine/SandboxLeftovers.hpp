#pragma once
// WebKit's sandbox leaves a folder per web process of ours (.flatpak/webkit-<our pid>-<n>, in
// the user's runtime folder, or the cache folder where there is none) that nothing removes:
// on a machine without a session's runtime folder they pile up by the thousand.
namespace norvo::SandboxLeftovers {

// Removes this process's folders that hold nothing but WebKit's note of its sandbox. At the
// end of the process, once its web pages are gone.
void removeOurs();

}  // namespace norvo::SandboxLeftovers
