#include "session/settings_writer.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace bearfix {

std::string settingsUnreadable(const std::string& path, const std::string& reason) {
    return "Cannot read " + path + ": " + reason + "; settings will not be saved";
}

SettingsWriter::~SettingsWriter() { wait(); }

void SettingsWriter::wait() {
    if (background_.valid() && background_.get().empty()) written_ = std::move(writing_);
}

std::string SettingsWriter::fingerprint(const SessionSettings& s, bool writeBounds) {
    IniFile empty;
    writeSettings(empty, s, writeBounds);
    return empty.text();
}

std::string SettingsWriter::writeFile(const std::string& path, const SessionSettings& s, bool writeBounds) {
    IniFile file;
    std::string reason;
    if (file.load(path, &reason) == IniFile::Load::Unreadable)
        return settingsUnreadable(path, reason);
    writeSettings(file, s, writeBounds);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    return file.save(path) ? std::string() : "Unable to write to " + path;
}

std::string SettingsWriter::write(const std::string& path, const SessionSettings& s, bool writeBounds) {
    wait();
    std::string problem = writeFile(path, s, writeBounds);
    if (problem.empty()) written_ = fingerprint(s, writeBounds);
    return problem;
}

void SettingsWriter::remember(const SessionSettings& s, bool writeBounds) { written_ = fingerprint(s, writeBounds); }

bool SettingsWriter::writeInBackground(const std::string& path, const SessionSettings& s, bool writeBounds,
                                       std::function<void(const std::string& problem)> done) {
    using namespace std::chrono_literals;
    if (background_.valid() && background_.wait_for(0s) != std::future_status::ready) return false;
    wait();
    std::string text = fingerprint(s, writeBounds);
    if (text == written_) return false;
    writing_ = std::move(text);
    background_ = std::async(std::launch::async, [path, s, writeBounds, done = std::move(done)] {
        std::string problem = writeFile(path, s, writeBounds);
        done(problem);
        return problem;
    });
    return true;
}

}  // namespace bearfix
