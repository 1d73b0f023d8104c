/* The client as a C application uses it: client.h compiled as C. */
#include "client.h"

int register_and_heartbeat_from_c(const char *socket_path, int *register_result);

int register_and_heartbeat_from_c(const char *socket_path, int *register_result)
{
	daemon_client client;
	int result = daemon_client_init(&client, socket_path);
	if (result != 0)
		return result;
	*register_result = daemon_client_register(&client);
	return daemon_client_heartbeat(&client);
}
