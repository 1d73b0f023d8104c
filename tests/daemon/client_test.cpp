// The client against sockets bound here as the daemon binds its own
// (create_unix_socket: remove, then bind), in a directory of the test's.
#include <gtest/gtest.h>

#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "client.h"
#include "open_descriptors.h"

extern "C" int register_and_heartbeat_from_c(const char *socket_path, int *register_result);

namespace {

using commands = std::vector<int32_t>;

class DaemonClient : public ::testing::Test {
protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/daemon-client-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		dir = tmpl;
		path = dir + "/daemon";
		ASSERT_EQ(0, daemon_client_init(&client, path.c_str()));
	}
	void TearDown() override
	{
		for (int fd : daemons)
			close(fd);
		ASSERT_EQ(0, system(("rm -rf " + dir).c_str()));
	}

	// A daemon starting: a new socket file at the path.
	int start_daemon()
	{
		int fd = create_unix_socket(path.c_str());
		EXPECT_GE(fd, 0);
		daemons.push_back(fd);
		return fd;
	}
	// A daemon crashing: its socket closes, the file stays.
	void crash_daemon(int fd)
	{
		close(fd);
		daemons.erase(std::find(daemons.begin(), daemons.end(), fd));
		// Over the coarsest file time stamp (a 10-ms tick) that a file
		// system might give the next socket file: a real restart takes
		// longer than that.
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	}

	// The commands waiting at a daemon's socket, taken from it.
	static commands received(int fd)
	{
		commands cmds;
		daemon_msg msg;
		while (recv(fd, &msg, sizeof msg, MSG_DONTWAIT) ==
		       static_cast<ssize_t>(sizeof msg)) {
			EXPECT_EQ(0, msg.arg);
			cmds.push_back(msg.cmd);
		}
		return cmds;
	}

	std::string dir, path;
	std::vector<int> daemons;
	daemon_client client;
};

}  // namespace

TEST_F(DaemonClient, HeartbeatsRightAfterTheRegisterGoAlone)
{
	int daemon = start_daemon();
	EXPECT_EQ(0, daemon_client_register(&client));
	EXPECT_EQ(DAEMON_CLIENT_SENT, daemon_client_heartbeat(&client));
	EXPECT_EQ(DAEMON_CLIENT_SENT, daemon_client_heartbeat(&client));
	EXPECT_EQ((commands{DAEMON_CMD_REGISTER, DAEMON_CMD_HEARTBEAT, DAEMON_CMD_HEARTBEAT}),
		  received(daemon));
	EXPECT_EQ(1u, client.registrations);
}

// The daemon binds a new file at each start; ext4 tends to give it the
// number of the file just removed, so the number alone would not tell.
TEST_F(DaemonClient, NewDaemonGetsARegisterBeforeTheNextHeartbeat)
{
	int first = start_daemon();
	ASSERT_EQ(0, daemon_client_register(&client));
	ASSERT_EQ(DAEMON_CLIENT_SENT, daemon_client_heartbeat(&client));
	struct stat before;
	ASSERT_EQ(0, stat(path.c_str(), &before));
	crash_daemon(first);
	int second = start_daemon();
	struct stat after;
	ASSERT_EQ(0, stat(path.c_str(), &after));
	RecordProperty("same_inode_number", before.st_ino == after.st_ino ? "yes" : "no");

	EXPECT_EQ(DAEMON_CLIENT_REGISTERED, daemon_client_heartbeat(&client));
	EXPECT_EQ((commands{DAEMON_CMD_REGISTER, DAEMON_CMD_HEARTBEAT}), received(second));
	EXPECT_EQ(DAEMON_CLIENT_SENT, daemon_client_heartbeat(&client));
	EXPECT_EQ(commands{DAEMON_CMD_HEARTBEAT}, received(second));
	EXPECT_EQ(2u, client.registrations);
}

// Gone: first the file without a listener, then no file; the daemon that
// comes back gets the register.
TEST_F(DaemonClient, DaemonGoneAndBack)
{
	int first = start_daemon();
	ASSERT_EQ(0, daemon_client_register(&client));
	crash_daemon(first);
	EXPECT_EQ(-ECONNREFUSED, daemon_client_heartbeat(&client));
	ASSERT_EQ(0, unlink(path.c_str()));
	EXPECT_EQ(-ENOENT, daemon_client_heartbeat(&client));
	EXPECT_EQ(-ENOENT, daemon_client_request_restart(&client));

	int second = start_daemon();
	EXPECT_EQ(DAEMON_CLIENT_REGISTERED, daemon_client_heartbeat(&client));
	EXPECT_EQ((commands{DAEMON_CMD_REGISTER, DAEMON_CMD_HEARTBEAT}), received(second));
}

TEST_F(DaemonClient, DaemonNotThereYetAtRegister)
{
	EXPECT_EQ(-ENOENT, daemon_client_register(&client));
	EXPECT_EQ(0, client.registered);
	EXPECT_EQ(-ENOENT, daemon_client_heartbeat(&client));
	int daemon = start_daemon();
	EXPECT_EQ(DAEMON_CLIENT_REGISTERED, daemon_client_heartbeat(&client));
	EXPECT_EQ((commands{DAEMON_CMD_REGISTER, DAEMON_CMD_HEARTBEAT}), received(daemon));
	EXPECT_EQ(1u, client.registrations);
}

// A daemon that does not read: its queue fills, and the calls return
// instead of waiting for it.  A register that did not go out is sent again.
TEST_F(DaemonClient, FullQueueFailsAtOnce)
{
	int daemon = start_daemon();
	ASSERT_EQ(0, daemon_client_register(&client));
	alarm(10);  // a blocking send would hang the test
	int result = 0, sent = 0;
	while (sent < 100000 && (result = daemon_client_heartbeat(&client)) == DAEMON_CLIENT_SENT)
		++sent;
	EXPECT_EQ(-EAGAIN, result) << "after " << sent << " heartbeats";
	EXPECT_EQ(-EAGAIN, daemon_client_register(&client));
	alarm(0);
	EXPECT_EQ(0, client.registered);
	EXPECT_EQ(static_cast<size_t>(sent) + 1, received(daemon).size());

	EXPECT_EQ(DAEMON_CLIENT_REGISTERED, daemon_client_heartbeat(&client));
	EXPECT_EQ((commands{DAEMON_CMD_REGISTER, DAEMON_CMD_HEARTBEAT}), received(daemon));
}

// The daemon forgets a registration when it takes a restart request.
TEST_F(DaemonClient, RestartRequestRegistersWithANewDaemonFirst)
{
	int first = start_daemon();
	ASSERT_EQ(0, daemon_client_register(&client));
	crash_daemon(first);
	int second = start_daemon();
	EXPECT_EQ(DAEMON_CLIENT_REGISTERED, daemon_client_request_restart(&client));
	EXPECT_EQ((commands{DAEMON_CMD_REGISTER, DAEMON_CMD_REBOOT}), received(second));
	EXPECT_EQ(0, client.registered);
}

TEST_F(DaemonClient, RestartRequestToTheKnownDaemon)
{
	int daemon = start_daemon();
	ASSERT_EQ(0, daemon_client_register(&client));
	EXPECT_EQ(DAEMON_CLIENT_SENT, daemon_client_request_restart(&client));
	EXPECT_EQ((commands{DAEMON_CMD_REGISTER, DAEMON_CMD_REBOOT}), received(daemon));
	// Not killed after all: the next heartbeat registers again.
	EXPECT_EQ(DAEMON_CLIENT_REGISTERED, daemon_client_heartbeat(&client));
	EXPECT_EQ((commands{DAEMON_CMD_REGISTER, DAEMON_CMD_HEARTBEAT}), received(daemon));
}

// sendto_unix_socket cuts an over-long path; the client refuses it, as it
// would look at one file and send to another.
TEST_F(DaemonClient, PathMustFitTheSocketAddress)
{
	daemon_client other;
	EXPECT_EQ(0, daemon_client_init(&other, nullptr));
	EXPECT_STREQ(DAEMON_SOCKET_PATH, other.socket_path);
	std::string longest = dir + "/" + std::string(107 - dir.size() - 1, 'x');
	EXPECT_EQ(0, daemon_client_init(&other, longest.c_str()));
	EXPECT_EQ(longest, other.socket_path);
	int daemon = create_unix_socket(longest.c_str());
	ASSERT_GE(daemon, 0);
	daemons.push_back(daemon);
	EXPECT_EQ(0, daemon_client_register(&other));
	EXPECT_EQ(commands{DAEMON_CMD_REGISTER}, received(daemon));
	EXPECT_EQ(-ENAMETOOLONG, daemon_client_init(&other, (longest + "y").c_str()));
	EXPECT_EQ(-EINVAL, daemon_client_init(nullptr, path.c_str()));
}

// A library prints nothing in its callers' output and keeps no descriptor.
TEST_F(DaemonClient, QuietAndLeaksNothing)
{
	int before = open_descriptors();
	testing::internal::CaptureStdout();
	testing::internal::CaptureStderr();
	EXPECT_EQ(-ENOENT, daemon_client_register(&client));
	EXPECT_EQ(-ENOENT, daemon_client_heartbeat(&client));
	int daemon = start_daemon();
	EXPECT_EQ(DAEMON_CLIENT_REGISTERED, daemon_client_heartbeat(&client));
	crash_daemon(daemon);
	EXPECT_EQ(-ECONNREFUSED, daemon_client_heartbeat(&client));
	EXPECT_EQ(-ECONNREFUSED, daemon_client_request_restart(&client));
	EXPECT_EQ("", testing::internal::GetCapturedStderr());
	EXPECT_EQ("", testing::internal::GetCapturedStdout());
	EXPECT_EQ(before, open_descriptors());
}

TEST_F(DaemonClient, FromC)
{
	int daemon = start_daemon();
	int registered = -1;
	EXPECT_EQ(DAEMON_CLIENT_SENT, register_and_heartbeat_from_c(path.c_str(), &registered));
	EXPECT_EQ(0, registered);
	EXPECT_EQ((commands{DAEMON_CMD_REGISTER, DAEMON_CMD_HEARTBEAT}), received(daemon));
}
