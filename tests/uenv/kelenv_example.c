/*
 * The README's example of the kelenv library, built as C and linked without
 * the C++ library: prints serverip, or sets it when given a value.
 *   kelenv_example [DEVICE [VALUE]]
 */
#include <stdio.h>

#include "kelenv.h"

int main(int argc, char *argv[])
{
	const char *device = argc > 1 ? argv[1] : NULL;	/* NULL: /dev/env */
	const char *new_ip = argc > 2 ? argv[2] : NULL;
	kelenv *env;
	int ret = kelenv_open(&env, device, new_ip ? O_RDWR : O_RDONLY);
	if (ret < 0) {
		fprintf(stderr, "open: %s\n", kelenv_strerror(ret));
		return 1;
	}
	if (new_ip) {
		ret = kelenv_set(env, "serverip", new_ip);	/* in flash on return */
	} else {
		/* Up to 256 characters fit; kelenv_get_alloc() takes any. */
		char ip[KELENV_VALUE_SIZE];
		ret = kelenv_get(env, "serverip", ip, sizeof ip);
		if (ret >= 0)
			printf("serverip is %s\n", ip);
	}
	kelenv_close(env);
	if (ret < 0) {
		fprintf(stderr, "serverip: %s\n", kelenv_strerror(ret));
		return 1;
	}
	return 0;
}
