namespace Bench.BuildProject;

// A few shapes, summed by area and perimeter.
public abstract class Shape
{
    public abstract double Area { get; }
    public abstract double Perimeter { get; }
}

public sealed class Circle(double radius) : Shape
{
    public override double Area => Math.PI * radius * radius;
    public override double Perimeter => 2 * Math.PI * radius;
}

public sealed class Rectangle(double width, double height) : Shape
{
    public override double Area => width * height;
    public override double Perimeter => 2 * (width + height);
}

public sealed class Triangle(double a, double b, double c) : Shape
{
    public override double Area
    {
        get
        {
            double s = (a + b + c) / 2;
            return Math.Sqrt(s * (s - a) * (s - b) * (s - c));
        }
    }

    public override double Perimeter => a + b + c;
}

public sealed class Inventory
{
    private readonly List<Shape> _shapes = [];

    public void Add(Shape shape) => _shapes.Add(shape);

    public (double Area, double Perimeter) Totals() =>
        (_shapes.Sum(s => s.Area), _shapes.Sum(s => s.Perimeter));

    public IEnumerable<IGrouping<string, Shape>> ByKind() => _shapes.GroupBy(s => s.GetType().Name);
}

public static class Program
{
    public static int Main()
    {
        var inventory = new Inventory();
        for (int i = 1; i <= 10; i++)
        {
            inventory.Add(new Circle(i));
            inventory.Add(new Rectangle(i, i + 1));
            inventory.Add(new Triangle(3 * i, 4 * i, 5 * i));
        }
        var (area, perimeter) = inventory.Totals();
        foreach (var group in inventory.ByKind().OrderBy(g => g.Key))
        {
            Console.WriteLine($"{group.Key}: {group.Count()}");
        }
        Console.WriteLine($"area {area:F2} perimeter {perimeter:F2}");
        return 0;
    }
}
