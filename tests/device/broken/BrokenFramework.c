/* A framework build whose own file is there but one of whose libraries is not, as when a user
 * lacks a package the real-device build links to. */
int spacewell_absent_library_value(void);

int AMDeviceDisconnect(void* device)
{
    (void)device;
    return spacewell_absent_library_value();
}
