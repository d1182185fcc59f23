using System.Runtime.CompilerServices;

namespace E2E.Lib;

// Lives in its own assembly so that the program loads an assembly after start-up.
public static class Calculator
{
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static long Multiply(long a, long b) => a * b;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int Checked(int value)
    {
        if (value < 0)
        {
            throw new InvalidOperationException($"negative value {value}");
        }
        return value;
    }
}
