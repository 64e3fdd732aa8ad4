// An empty program: each game layer is linked into one, whole, together with
// only the layers below it, so that a call into a higher layer fails to link.
int main() { return 0; }
