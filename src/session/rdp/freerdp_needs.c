/* Links the FreeRDP libraries that the program loads when it needs them, using one function of
   each, so that the package's dependencies name them (debian/rules hands it to
   dpkg-shlibdeps); never installed. */
const char* freerdp_get_version_string(void);
void* freerdp_client_context_new(const void* entry_points);
void* WLog_GetRoot(void);

int main(int argc, char** argv)
{
    (void)argv;
    if (argc > 1)
        return freerdp_get_version_string() != 0 && WLog_GetRoot() != 0 &&
               freerdp_client_context_new(0) != 0;
    return 0;
}
