// Numbers that are no family code or setting id pass: LUT sizes, ports, sums.
int lut_inputs(int lut_size) { return lut_size == 6 ? 64 : 16; }
double scale(double x) { return x * 6.5 + 566.25; }
