#include "app/settings.h"

int main(int argc, char **argv)
{
	return wendrop_main(argc, const_cast<const char **>(argv));
}
