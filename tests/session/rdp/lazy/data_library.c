/* A library that exports a variable besides a function. */
int fake_counter = 1;

int fake_next(void)
{
    return ++fake_counter;
}
