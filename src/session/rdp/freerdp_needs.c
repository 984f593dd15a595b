/* Links the FreeRDP libraries that the program loads when it needs them, using one function of
   each, so that the package's dependencies name them (debian/rules hands it to
   dpkg-shlibdeps); never run, never installed. */
#include <stdio.h>

const char* freerdp_get_version_string(void);
void* freerdp_client_context_new(const void* entry_points);
void* WLog_GetRoot(void);

int main(void)
{
    printf("%p %p %p\n", (void*)freerdp_get_version_string, (void*)freerdp_client_context_new,
           (void*)WLog_GetRoot);
    return 0;
}
