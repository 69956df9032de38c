// The registration worker, both sides: not yet built; unattended runs fall
// back to the registration tool.
#include "platform/windows/windows_platform.h"

namespace tarnwick::win {

bool WindowsPlatform::StartWorker() { return false; }
bool WindowsPlatform::SendToWorker(const std::string&) { return false; }
WorkerVerdict WindowsPlatform::WaitForWorker(std::chrono::milliseconds) { return {}; }
void WindowsPlatform::EndWorker() {}
bool WindowsPlatform::ServeAsWorker(const std::string&) { return false; }
std::string WindowsPlatform::ErrorText(std::uint32_t) { return {}; }

}  // namespace tarnwick::win
