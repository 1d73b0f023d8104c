/*
 * A request of /dev/env's commands 6 to 8 as the system scenarios' programs
 * make it: the command's record, then the caller's buffer, room for the
 * biggest change set (UENV_CHANGES_MAX), and so for any value or list.
 */
#ifndef ENV_REQUEST_H
#define ENV_REQUEST_H

#include "kel_ubootenv.h"

#define ENV_REQUEST_BUFFER	UENV_CHANGES_MAX

union env_request {
	struct uboot_env_value_record value;
	struct uboot_env_change_record change;
	struct uboot_env_list_record list;
	char bytes[sizeof(struct uboot_env_value_record) + ENV_REQUEST_BUFFER];
};

/* The buffer that follows the record `member` of the request `req`. */
#define env_request_buffer(req, member)	((req)->bytes + sizeof((req)->member))

#endif /* ENV_REQUEST_H */
