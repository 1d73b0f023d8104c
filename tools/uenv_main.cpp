#include <cstdio>

#include "uenv.h"

int main(int argc, char *argv[])
{
	return uenv::uenv_main(argc, argv, stdout, stderr);
}
