#include <cstdio>

#include "uenv.h"

// uenv, or fw_printenv and fw_setenv when called by those names.
int main(int argc, char *argv[])
{
	return uenv::program_main(argc, argv, stdin, stdout, stderr);
}
