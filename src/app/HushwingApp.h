#pragma once

// The program: application loop, the store opened once, and the one window.
class HushwingApp
{
public:
    static int main(int argc, char *argv[]);
};
