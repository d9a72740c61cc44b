"""Checks apparent powers with Python's decimal module. Each line of the file is
"range current_count voltage_count text", text being S in VA as the program wrote it, or "-"
where it gave none. The scales are this script's own: current ranges 0 (mA), 1 (two decimals),
2 (one decimal), 3 and 4 (whole amperes), 5 (whole amperes, over range above 10000); AC voltage
in tenths of a volt, over range above 7500. Prints every line that disagrees."""
import decimal
import sys

decimal.getcontext().prec = 50
CURRENT_DIVISOR = {0: 1000, 1: 100, 2: 10, 3: 1, 4: 1, 5: 1}

with open(sys.argv[1], encoding="utf-8") as source:
    for line in source:
        rng, current, voltage, text = line.split()
        rng, current, voltage = int(rng), int(current), int(voltage)
        if rng not in CURRENT_DIVISOR or (rng == 5 and current > 10000) or voltage > 7500:
            expected = "-"
        else:
            amperes = decimal.Decimal(current) / CURRENT_DIVISOR[rng]
            volts = decimal.Decimal(voltage) / 10
            product = amperes * volts
            expected = "0" if product == 0 else format(product.normalize(), "f")
        if text != expected:
            print(f"range {rng}, {current} x {voltage}: wrote {text}, decimal gives {expected}")
