// Linked like the player and run once at configure time, so that the dynamic loader reports
// where the symbols of the player's whole library tree are found.
int main() {
    return 0;
}
