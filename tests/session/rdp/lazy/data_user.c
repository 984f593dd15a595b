/* Uses a variable of a library: what the stub generator must refuse. */
extern int fake_counter;
int fake_next(void);

int use_data(void)
{
    return fake_counter + fake_next();
}
