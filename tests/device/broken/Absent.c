/* A library that the broken framework needs and the system loader cannot find. */
int spacewell_absent_library_value(void)
{
    return 1;
}
