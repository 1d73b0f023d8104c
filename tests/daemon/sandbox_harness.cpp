#include "sandbox_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

extern char **environ;

namespace sandbox {

std::string program(const char *env_name)
{
	const char *path = getenv(env_name);
	if (path == nullptr || *path == '\0') {
		fprintf(stderr, "%s is not set: run this inside tests/daemon/sandbox\n", env_name);
		abort();
	}
	return path;
}

double seconds_between(steady::time_point from, steady::time_point to)
{
	return std::chrono::duration<double>(to - from).count();
}

daemon_run::daemon_run(bool watchdog, const std::vector<std::string> &environment)
	: environment_(environment)
{
	if (watchdog) {
		// Non-blocking open: there is no writer yet.
		watchdog_fd_ = open("/dev/watchdog", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
		if (watchdog_fd_ < 0) {
			perror("open /dev/watchdog for reading");
			abort();
		}
	}
	int out[2];
	if (pipe2(out, O_CLOEXEC) != 0) {
		perror("pipe2");
		abort();
	}
	char error_path[] = "/tmp/daemon-stderr.XXXXXX";
	error_fd_ = mkostemp(error_path, O_CLOEXEC);  // the spawns dup it, nothing else inherits it
	if (error_fd_ < 0) {
		perror("mkstemp");
		abort();
	}
	error_path_ = error_path;
	output_fd_ = out[0];
	output_write_fd_ = out[1];
	spawn();
	output_reader_ = std::thread(&daemon_run::read_output, this);
	if (watchdog)
		watchdog_reader_ = std::thread(&daemon_run::read_watchdog, this);
}

void daemon_run::spawn()
{
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, output_write_fd_, STDOUT_FILENO);
	posix_spawn_file_actions_adddup2(&actions, error_fd_, STDERR_FILENO);
	std::string daemon = program("DAEMON_BIN");
	char *argv[] = {const_cast<char *>(daemon.c_str()), nullptr};
	std::vector<char *> envp;
	for (char **e = environ; *e != nullptr; ++e)
		envp.push_back(*e);
	for (const std::string &e : environment_)
		envp.push_back(const_cast<char *>(e.c_str()));
	envp.push_back(nullptr);
	int rc = posix_spawn(&pid_, daemon.c_str(), &actions, nullptr, argv, envp.data());
	posix_spawn_file_actions_destroy(&actions);
	if (rc != 0) {
		fprintf(stderr, "cannot start %s: %s\n", daemon.c_str(), strerror(rc));
		abort();
	}
	reaped_ = false;
}

void daemon_run::crash()
{
	if (reaped_)
		return;
	kill(pid_, SIGKILL);
	waitpid(pid_, nullptr, 0);
	reaped_ = true;
}

void daemon_run::start_again()
{
	crash();
	spawn();
}

daemon_run::~daemon_run()
{
	if (!reaped_) {
		kill(pid_, SIGKILL);
		waitpid(pid_, nullptr, 0);
	}
	// The norvels hold the output pipe too.
	if (system("killall -q -9 norvel") < 0)
		perror("killall");
	stopping_ = true;
	if (output_reader_.joinable())
		output_reader_.join();
	if (watchdog_reader_.joinable())
		watchdog_reader_.join();
	if (output_fd_ >= 0)
		close(output_fd_);
	close(output_write_fd_);
	close(error_fd_);
	if (watchdog_fd_ >= 0)
		close(watchdog_fd_);
	unlink(error_path_.c_str());
}

void daemon_run::close_output()
{
	output_closed_ = true;
	output_reader_.join();
	close(output_fd_);
	output_fd_ = -1;
}

std::string daemon_run::error_output() const
{
	std::ifstream file(error_path_);
	std::stringstream text;
	text << file.rdbuf();
	return text.str();
}

void daemon_run::start_norvel()
{
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, output_write_fd_, STDOUT_FILENO);
	posix_spawn_file_actions_adddup2(&actions, output_write_fd_, STDERR_FILENO);
	char *argv[] = {const_cast<char *>("sh"), const_cast<char *>("-c"),
			const_cast<char *>("/home/app/norvel &"), nullptr};
	pid_t shell;
	int rc = posix_spawn(&shell, "/bin/sh", &actions, nullptr, argv, environ);
	posix_spawn_file_actions_destroy(&actions);
	if (rc != 0) {
		fprintf(stderr, "cannot start norvel: %s\n", strerror(rc));
		abort();
	}
	waitpid(shell, nullptr, 0);
}

// Both readers poll with a short timeout so that the destructor can stop
// them while other processes still hold the pipe.
void daemon_run::read_output()
{
	std::string partial;
	char buf[4096];
	while (!stopping_ && !output_closed_) {
		pollfd p = {output_fd_, POLLIN, 0};
		if (poll(&p, 1, 50) <= 0)
			continue;
		ssize_t n = read(output_fd_, buf, sizeof buf);
		if (n <= 0)
			break;
		auto now = steady::now();
		partial.append(buf, static_cast<size_t>(n));
		std::lock_guard<std::mutex> lock(mutex_);
		size_t end;
		while ((end = partial.find('\n')) != std::string::npos) {
			lines_.push_back({now, partial.substr(0, end)});
			partial.erase(0, end + 1);
		}
		changed_.notify_all();
	}
}

void daemon_run::read_watchdog()
{
	unsigned char buf[64];
	while (!stopping_) {
		pollfd p = {watchdog_fd_, POLLIN, 0};
		if (poll(&p, 1, 50) <= 0)
			continue;
		if (!(p.revents & POLLIN)) {
			// No writer (the daemon died): hang-up until a daemon
			// started again opens the FIFO, whose feeds count too.
			std::this_thread::sleep_for(milliseconds(50));
			continue;
		}
		ssize_t n = read(watchdog_fd_, buf, sizeof buf);
		if (n <= 0)
			continue;
		auto now = steady::now();
		std::lock_guard<std::mutex> lock(mutex_);
		for (ssize_t i = 0; i < n; ++i)
			feeds_.push_back({now, buf[i]});
		changed_.notify_all();
	}
}

std::vector<timed_line> daemon_run::lines() const
{
	std::lock_guard<std::mutex> lock(mutex_);
	return lines_;
}

std::vector<std::string> daemon_run::daemon_lines() const
{
	std::vector<std::string> own;
	for (const auto &line : lines())
		if (line.text.rfind("norvel[", 0) != 0)
			own.push_back(line.text);
	return own;
}

std::vector<feed> daemon_run::feeds() const
{
	std::lock_guard<std::mutex> lock(mutex_);
	return feeds_;
}

std::optional<steady::time_point> daemon_run::wait_line(const std::string &text, size_t count,
							 milliseconds timeout)
{
	return wait_line([&](const std::string &line) { return line == text; }, count, timeout);
}

std::optional<steady::time_point>
daemon_run::wait_line(const std::function<bool(const std::string &)> &match, size_t count,
		      milliseconds timeout)
{
	std::optional<steady::time_point> found;
	std::unique_lock<std::mutex> lock(mutex_);
	changed_.wait_for(lock, timeout, [&] {
		size_t seen = 0;
		for (const auto &line : lines_)
			if (match(line.text) && ++seen == count) {
				found = line.at;
				return true;
			}
		return false;
	});
	return found;
}

std::optional<pid_t> daemon_run::wait_norvel(size_t count, milliseconds timeout)
{
	auto is_start = [](const std::string &line) {
		return line.rfind("norvel[", 0) == 0 && line.find("]: started") != std::string::npos;
	};
	if (!wait_line(is_start, count, timeout))
		return std::nullopt;
	size_t seen = 0;
	for (const auto &line : lines())
		if (is_start(line.text) && ++seen == count)
			return static_cast<pid_t>(atoi(line.text.c_str() + strlen("norvel[")));
	return std::nullopt;
}

bool daemon_run::wait_socket(milliseconds timeout)
{
	auto until = steady::now() + timeout;
	struct stat st;
	while (stat("/var/daemon", &st) != 0 || !S_ISSOCK(st.st_mode)) {
		if (steady::now() > until)
			return false;
		std::this_thread::sleep_for(milliseconds(10));
	}
	return true;
}

std::optional<int> daemon_run::wait_exit(milliseconds timeout)
{
	auto until = steady::now() + timeout;
	int status;
	while (waitpid(pid_, &status, WNOHANG) == 0) {
		if (steady::now() > until)
			return std::nullopt;
		std::this_thread::sleep_for(milliseconds(10));
	}
	reaped_ = true;
	return status;
}

bool process_gone(pid_t pid)
{
	std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
	std::string text;
	if (!std::getline(stat, text))
		return true;
	// The state follows the parenthesised command name.
	size_t close = text.rfind(')');
	return close == std::string::npos || text.compare(close + 2, 1, "Z") == 0 ||
	       text.compare(close + 2, 1, "X") == 0;
}

bool wait_gone(pid_t pid, milliseconds timeout)
{
	auto until = steady::now() + timeout;
	while (!process_gone(pid)) {
		if (steady::now() > until)
			return false;
		std::this_thread::sleep_for(milliseconds(10));
	}
	return true;
}

std::vector<std::string> descriptor_targets(pid_t pid)
{
	std::vector<std::string> targets;
	std::string dir = "/proc/" + std::to_string(pid) + "/fd";
	DIR *d = opendir(dir.c_str());
	if (d == nullptr)
		return targets;
	while (dirent *entry = readdir(d)) {
		if (entry->d_name[0] == '.')
			continue;
		char target[256];
		ssize_t n = readlink((dir + "/" + entry->d_name).c_str(), target, sizeof target - 1);
		if (n > 0)
			targets.emplace_back(target, static_cast<size_t>(n));
	}
	closedir(d);
	return targets;
}

static long status_field(const std::string &path, const char *field)
{
	std::ifstream status(path);
	std::string line;
	std::string key = std::string(field) + ":";
	while (std::getline(status, line))
		if (line.rfind(key, 0) == 0)
			return atol(line.c_str() + key.size());
	return -1;
}

long voluntary_switches(pid_t pid)
{
	long total = 0;
	std::string dir = "/proc/" + std::to_string(pid) + "/task";
	DIR *d = opendir(dir.c_str());
	if (d == nullptr)
		return -1;
	while (dirent *entry = readdir(d)) {
		if (entry->d_name[0] == '.')
			continue;
		long n = status_field(dir + "/" + entry->d_name + "/status", "voluntary_ctxt_switches");
		if (n > 0)
			total += n;
	}
	closedir(d);
	return total;
}

long status_kb(pid_t pid, const char *field)
{
	return status_field("/proc/" + std::to_string(pid) + "/status", field);
}

}  // namespace sandbox
